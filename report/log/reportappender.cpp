#include "report/log/reportappender.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ReportAppender::ReportAppender(std::string filePath) : path(std::move(filePath)) { }

ReportAppender::~ReportAppender()
{
    close();
}

bool ReportAppender::ensureOpen()
{
    if (fd >= 0) {
        struct stat st;
        // Removed ("rm" after a run, or by hand): lines written to the old file would be lost.
        if (::fstat(fd, &st) == 0 && st.st_nlink > 0) {
            return true;
        }
        close();
    }
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    return fd >= 0;
}

bool ReportAppender::append(const std::string& line)
{
    if (!ensureOpen()) {
        return false;
    }
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

void ReportAppender::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
