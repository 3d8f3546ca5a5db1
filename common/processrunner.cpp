#include "common/processrunner.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QStringList>

extern char** environ;

namespace Process {

namespace {

constexpr int StopCheckMs = 100;

class Descriptor
{
public:
    explicit Descriptor(int descriptor = -1) : fd(descriptor) { }
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    void reset(int next = -1)
    {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = next;
    }

private:
    int fd;
};

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Result spawnAndRead(const std::vector<std::string>& argv, const std::atomic<bool>* stop)
{
    Result result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    Descriptor readEnd(fds[0]);
    Descriptor writeEnd(fds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (spawned != 0) {
        return result;
    }
    result.started = true;

    char piece[4096];
    for (;;) {
        if (stop && *stop) {
            ::kill(pid, SIGTERM);
            result.stopped = true;
            break;
        }
        pollfd watched {readEnd.get(), POLLIN, 0};
        const int ready = ::poll(&watched, 1, stop ? StopCheckMs : -1);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t got = ::read(readEnd.get(), piece, sizeof piece);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        result.output.append(piece, static_cast<std::size_t>(got));
    }
    readEnd.reset();
    const int code = waitFor(pid);
    result.exitCode = result.stopped ? -1 : code;
    return result;
}

} // namespace

Result run(const std::string& program, const std::vector<std::string>& arguments, const std::atomic<bool>* stop)
{
    std::vector<std::string> argv;
    argv.reserve(arguments.size() + 1);
    argv.push_back(program);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return spawnAndRead(argv, stop);
}

std::string output(const std::string& program, const std::vector<std::string>& arguments)
{
    return run(program, arguments).output;
}

Result runFixedShellLine(const std::string& fixedLine, const std::atomic<bool>* stop)
{
    return spawnAndRead({"/bin/sh", "-c", fixedLine}, stop);
}

bool startDetached(const std::string& program, const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const std::string& a : arguments) {
        list << QString::fromStdString(a);
    }
    return QProcess::startDetached(QString::fromStdString(program), list);
}

} // namespace Process
