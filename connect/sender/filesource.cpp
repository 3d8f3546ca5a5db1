#include "connect/sender/filesource.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "connect/sender/entrysource.h"

FileSource::FileSource(const std::string& path)
{
    // O_NONBLOCK only for the open itself: opening a FIFO for reading would otherwise wait for a writer.
    record.unreadable = true;
    struct stat info
    {
    };
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        openStatus = errno == ENOENT ? Status::Missing : Status::Unreadable;
        if (::stat(path.c_str(), &info) == 0) {
            record = metaFromStat(info, FileMeta::Kind::File);
            record.unreadable = true;
        }
        return;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close();
        openStatus = Status::Unreadable;
        return;
    }
    // A regular file ignores O_NONBLOCK, so it stays set: two system calls fewer per file.
    record = metaFromStat(info, FileMeta::Kind::File);
    openLength = static_cast<uint64_t>(info.st_size);
    openMode = static_cast<uint32_t>(info.st_mode) & 07777;
    openStatus = Status::Open;
}

FileSource::~FileSource()
{
    close();
}

std::size_t FileSource::read(char* into, std::size_t n)
{
    std::size_t got = 0;
    while (got < n && !end && fd >= 0) {
        const ssize_t r = ::read(fd, into + got, n - got);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            end = true;
        }
    }
    return got;
}

void FileSource::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    end = true;
}
