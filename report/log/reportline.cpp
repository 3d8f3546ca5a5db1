#include "report/log/reportline.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDateTime>
#include <QTime>

#include "common/sizetext.h"

uint64_t getDurationSeconds(std::chrono::system_clock::time_point start, std::chrono::system_clock::time_point end)
{
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
    if (nanoseconds <= 0) {
        return 0;
    }
    // Integer division: a float loses whole seconds here (90 s would come out as 89).
    return static_cast<uint64_t>(nanoseconds / 1000000000);
}

QString getClockText(const QTime& time)
{
    return time.toString(QStringLiteral("hh:mm:ss"));
}

std::string getSucceededLine(const std::string& filename, uint64_t filesize, const QTime& time, uint64_t seconds)
{
    std::string line = filename;
    line += '\t';
    line += getSizeText(filesize).toStdString();
    line += '\t';
    line += getClockText(time).toStdString();
    line += '\t';
    line += getTimeText(seconds).toStdString();
    line += '\n';
    return line;
}

std::string getSkippedLine(const std::string& filename, uint64_t filesize)
{
    return filename + '\t' + getSizeText(filesize).toStdString() + '\n';
}

std::string getFailedLine(
    const std::string& filename, uint64_t filesize, const std::string& reason, const QTime& time, uint64_t seconds)
{
    std::string line = filename;
    line += '\t';
    line += getSizeText(filesize).toStdString();
    line += '\t';
    line += reason;
    line += '\t';
    line += getClockText(time).toStdString();
    line += '\t';
    line += getTimeText(seconds).toStdString();
    line += '\n';
    return line;
}

QString getPercentageText(uint64_t succeeded, uint64_t failed)
{
    const uint64_t total = std::max<uint64_t>(succeeded + failed, 1);
    return QString::number(succeeded * 100 / total) + QStringLiteral(" %");
}

QString getReportTimeText(const QDateTime& when)
{
    return QStringLiteral("报告生成时间：") + when.toString(QStringLiteral("yyyy年MM月dd日-hh:mm:ss"));
}

QString getShownReportTimeText(const QDateTime& when)
{
    return QCoreApplication::translate("ReportLine", "报告生成时间：")
        + when.toString(QCoreApplication::translate("ReportLine", "yyyy年MM月dd日-hh:mm:ss"));
}
