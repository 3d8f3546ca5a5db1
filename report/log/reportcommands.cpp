#include "report/log/reportcommands.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/processrunner.h"
#include "common/writeall.h"

const char* const succeededReportFile = ".succeed.txt";
const char* const failedReportFile = ".failed.txt";
const char* const skippedReportFile = ".skipped.txt";

namespace {

bool isSafeInQuotes(QChar c)
{
    return c != QLatin1Char('"') && c != QLatin1Char('$') && c != QLatin1Char('`') && c != QLatin1Char('\\')
        && c.category() != QChar::Other_Control;
}

class OpenFile
{
public:
    OpenFile(const QByteArray& path, int flags) : fd(::open(path.constData(), flags | O_CLOEXEC, 0666)) { }
    ~OpenFile()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int get() const { return fd; }

private:
    const int fd;
};

} // namespace

QString getSucceededCopyPrefix()
{
    return QStringLiteral("传输成功列表-");
}

QString getFailedCopyPrefix()
{
    return QStringLiteral("传输失败列表-");
}

QString getDatedName(const QString& prefix, const QString& reportTimeText)
{
    QString name;
    name.reserve(prefix.size() + reportTimeText.size());
    for (const QChar c : prefix + reportTimeText) {
        if (c == QLatin1Char(':')) {
            name += QChar(0xFF1A);
        } else if (isSafeInQuotes(c)) {
            name += c;
        }
    }
    return name;
}

bool copyReportFile(const QString& from, const QString& to)
{
    const OpenFile source(from.toUtf8(), O_RDONLY);
    struct stat st;
    if (source.get() < 0 || ::fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    const OpenFile target(to.toUtf8(), O_WRONLY | O_CREAT | O_TRUNC);
    if (target.get() < 0) {
        return false;
    }
    char piece[65536];
    for (;;) {
        const ssize_t got = ::read(source.get(), piece, sizeof piece);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (!writeAll(target.get(), piece, static_cast<std::size_t>(got))) {
            return false;
        }
    }
}

bool openReportCopy(const QString& datedName)
{
    // Detached: a viewer may stay open for as long as the user reads, and the window must not wait for it.
    return Process::startDetached("xdg-open", {datedName.toStdString()});
}

void removeWorkingReportFiles()
{
    for (const char* file : {succeededReportFile, failedReportFile, skippedReportFile}) {
        ::unlink(file);
    }
}
