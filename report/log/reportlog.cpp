#include "report/log/reportlog.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "report/log/reportcommands.h"
#include "report/log/reportline.h"
#include "report/log/resultcodes.h"

namespace {

std::vector<ReportLog::FileItemInfo> slice(
    const std::vector<ReportLog::FileItemInfo>& records, std::size_t first, std::size_t last)
{
    last = std::min(last, records.size());
    if (first >= last) {
        return {};
    }
    return std::vector<ReportLog::FileItemInfo>(
        records.begin() + static_cast<std::ptrdiff_t>(first), records.begin() + static_cast<std::ptrdiff_t>(last));
}

} // namespace

ReportLog::ReportLog(QObject* parent)
    : QObject(parent)
    , succeededReport(succeededReportFile)
    , failedReport(failedReportFile)
    , skippedReport(skippedReportFile)
{ }

void ReportLog::addSkipped(const std::string& filename, uint64_t filesize)
{
    std::lock_guard<std::mutex> lock(mutex);
    ++skippedCount;
    skippedBytes += filesize;
    skippedReport.append(getSkippedLine(filename, filesize));
}

void ReportLog::addFile(
    int result, std::string filename, uint64_t filesize, std::chrono::system_clock::time_point startTime)
{
    int row = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);

        FileItemInfo item;
        item.filename = std::move(filename);
        item.reason = getFailureReason(result);
        item.filesize = filesize;
        item.endTime = std::chrono::system_clock::now();
        item.time = clock.timeAt(item.endTime);
        item.startTime = startTime;
        const uint64_t seconds = getDurationSeconds(item.startTime, item.endTime);

        if (result == 0) {
            succeededBytes += filesize;
            succeededReport.append(getSucceededLine(item.filename, filesize, item.time, seconds));
            row = static_cast<int>(std::min<uint64_t>(succeededCount, INT_MAX));
            ++succeededCount;
            if (succeeded.size() < keptSucceeded) {
                succeeded.push_back(std::move(item));
            }
        } else {
            failedBytes += filesize;
            failedReport.append(getFailedLine(item.filename, filesize, item.reason, item.time, seconds));
            failed.push_back(std::move(item));
            row = static_cast<int>(failed.size() - 1);
        }
    }
    // Unlocked: a receiver on this thread is called at once and reads the records.
    if (row <= lastAnnouncedRow) {
        if (result == 0) {
            emit succeededAdded(row);
        } else {
            emit failedAdded(row);
        }
    }
}

ReportLog::Totals ReportLog::totals() const
{
    std::lock_guard<std::mutex> lock(mutex);
    Totals figures;
    figures.succeededCount = succeededCount;
    figures.succeededBytes = succeededBytes;
    figures.failedCount = failed.size();
    figures.failedBytes = failedBytes;
    figures.skippedCount = skippedCount;
    figures.skippedBytes = skippedBytes;
    return figures;
}

std::vector<ReportLog::FileItemInfo> ReportLog::succeededFiles(std::size_t first, std::size_t last) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return slice(succeeded, first, last);
}

std::vector<ReportLog::FileItemInfo> ReportLog::failedFiles(std::size_t first, std::size_t last) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return slice(failed, first, last);
}

void ReportLog::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    succeededReport.close();
    failedReport.close();
    skippedReport.close();
    succeeded.clear();
    failed.clear();
    succeededCount = 0;
    succeededBytes = 0;
    failedBytes = 0;
    skippedCount = 0;
    skippedBytes = 0;
}

void ReportLog::makeDatedCopies(const QString& reportTimeText)
{
    // Locked: no line goes into a file while it is being copied.
    std::lock_guard<std::mutex> lock(mutex);
    copyReportFile(QString::fromLatin1(failedReportFile), getDatedName(getFailedCopyPrefix(), reportTimeText));
    copyReportFile(QString::fromLatin1(succeededReportFile), getDatedName(getSucceededCopyPrefix(), reportTimeText));
}

void ReportLog::restore(const QString& reportTimeText)
{
    std::lock_guard<std::mutex> lock(mutex);
    succeededReport.close();
    failedReport.close();
    if (!succeeded.empty()) {
        copyReportFile(
            getDatedName(getSucceededCopyPrefix(), reportTimeText), QString::fromLatin1(succeededReportFile));
    }
    if (!failed.empty()) {
        copyReportFile(getDatedName(getFailedCopyPrefix(), reportTimeText), QString::fromLatin1(failedReportFile));
    }
}
