#pragma once

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// Another process that holds a classic fcntl record lock on a file, as apt and dpkg hold theirs, until
// released. The child only makes system calls, so forking a threaded test is safe.
class LockHolder
{
public:
    LockHolder() = default;
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    ~LockHolder() { release(); }

    // True once the child holds the lock (write lock, or read lock when `write` is false).
    bool hold(const std::string& path, bool write = true)
    {
        int ready[2];
        int done[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            return false;
        if (::pipe2(done, O_CLOEXEC) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return false;
        }
        child = ::fork();
        if (child == 0) {
            ::close(ready[0]);
            ::close(done[1]);
            const int fd = ::open(path.c_str(), write ? O_RDWR : O_RDONLY);
            struct flock lock
            {
            };
            lock.l_type = write ? F_WRLCK : F_RDLCK;
            lock.l_whence = SEEK_SET;
            char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            if (::write(ready[1], &ok, 1) != 1)
                ::_exit(1);
            char byte;
            while (::read(done[0], &byte, 1) > 0) { }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        releaseFd = done[1];
        char answer = 'n';
        ssize_t got;
        do {
            got = ::read(ready[0], &answer, 1);
        } while (got < 0 && errno == EINTR);
        ::close(ready[0]);
        if (child < 0 || got != 1 || answer != 'y') {
            release();
            return false;
        }
        return true;
    }

    // Ends the child, which drops the lock; waits until it is gone.
    void release()
    {
        if (releaseFd >= 0) {
            ::close(releaseFd);
            releaseFd = -1;
        }
        if (child > 0) {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
            child = -1;
        }
    }

private:
    pid_t child = -1;
    int releaseFd = -1;
};
