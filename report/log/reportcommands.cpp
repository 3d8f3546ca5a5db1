#include "report/log/reportcommands.h"

#include <QFileInfo>

#include "common/shellcommand.h"

const char* const succeededReportFile = ".succeed.txt";
const char* const failedReportFile = ".failed.txt";

namespace {

QByteArray quoted(const QString& name)
{
    return '"' + name.toUtf8() + '"';
}

bool isSafeInQuotes(QChar c)
{
    return c != QLatin1Char('"') && c != QLatin1Char('$') && c != QLatin1Char('`') && c != QLatin1Char('\\')
        && c.category() != QChar::Other_Control;
}

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

QByteArray getCopyCommand(const char* workingFile, const QString& datedName)
{
    return QByteArray("cp ") + workingFile + ' ' + quoted(datedName);
}

QByteArray getRestoreCommand(const QString& datedName, const char* workingFile)
{
    return QByteArray("cp ") + quoted(datedName) + ' ' + workingFile;
}

QByteArray getOpenCommand(const QString& datedName)
{
    return QByteArray("xdg-open ") + quoted(datedName);
}

QByteArray getRemoveCommand(const char* workingFile)
{
    return QByteArray("rm ") + workingFile;
}

void removeWorkingReportFiles()
{
    for (const char* file : {succeededReportFile, failedReportFile}) {
        if (QFileInfo::exists(QString::fromLatin1(file))) {
            runShellCommand(getRemoveCommand(file));
        }
    }
}
