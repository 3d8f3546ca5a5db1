#include "report/log/reportappender.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/writeall.h"

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
    return writeAll(fd, line.data(), line.size());
}

void ReportAppender::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
