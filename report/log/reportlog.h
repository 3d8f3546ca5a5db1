#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTime>

#include "report/log/reportappender.h"
#include "report/log/secondclock.h"

// The records of the send runs since the last clear, their figures and the report files they go to. The
// sender's thread records outcomes (addFile); the report's own thread reads them, makes the dated copies and
// restores. A view learns of new records through the signals, never by being called from a worker.
class ReportLog : public QObject
{
    Q_OBJECT

public:
    // One reported item.
    struct FileItemInfo
    {
        std::string filename;
        std::string reason;
        uint64_t filesize = 0;
        QTime time;
        std::chrono::system_clock::time_point endTime;
        std::chrono::system_clock::time_point startTime;
    };

    struct Totals
    {
        uint64_t succeededCount = 0;
        uint64_t succeededBytes = 0;
        uint64_t failedCount = 0;
        uint64_t failedBytes = 0;
        // Files left out as already on the receiver: neither sent nor failed.
        uint64_t skippedCount = 0;
        uint64_t skippedBytes = 0;
    };

    // Records 0 to this one of each kind are announced one by one; later ones only through the figures and
    // the files: a long run must not flood a view's queue with copies it would not show.
    static constexpr int lastAnnouncedRow = 100;
    // Succeeded records kept in memory: the ones a view shows. A home of a million files would otherwise
    // hold every path once more for the whole run; the report file has every line. Failed records are all
    // kept (a further run sends them again).
    static constexpr std::size_t keptSucceeded = lastAnnouncedRow + 1;

    explicit ReportLog(QObject* parent = nullptr);

    // Safe from any thread. The record's line is in its report file when this returns.
    void addFile(int result, std::string filename, uint64_t filesize, std::chrono::system_clock::time_point startTime);

    // Safe from any thread. A file left out of a run as already on the receiver unchanged; its line goes to
    // ".skipped.txt", beside the other report files.
    void addSkipped(const std::string& filename, uint64_t filesize);

    Totals totals() const;
    // Copies of the records numbered first to last - 1 (fewer if there are fewer), in the files' order;
    // succeeded ones only below keptSucceeded.
    std::vector<FileItemInfo> succeededFiles(std::size_t first, std::size_t last) const;
    std::vector<FileItemInfo> failedFiles(std::size_t first, std::size_t last) const;

    // Forgets every record; the report files stay, closed until the next line.
    void clear();
    // Copies each working report file that exists to its dated name for the report's time text.
    void makeDatedCopies(const QString& reportTimeText);
    // Before a further run: closes the report files and, for each kind that has records, brings the working
    // file back from the dated copy named after the report's time text.
    void restore(const QString& reportTimeText);

signals:
    // Emitted on the recording thread once the record is in, without the log locked. Only the row travels: a
    // view on another thread gets it queued and reads the records through succeededFiles()/failedFiles(), so
    // no record is handed between threads outside the lock. With several threads recording, rows may be
    // announced out of order.
    void succeededAdded(int row);
    void failedAdded(int row);

private:
    mutable std::mutex mutex;
    uint64_t succeededBytes = 0;
    uint64_t succeededCount = 0;
    std::vector<FileItemInfo> succeeded; // the first keptSucceeded
    uint64_t failedBytes = 0;
    std::vector<FileItemInfo> failed;
    ReportAppender succeededReport;
    ReportAppender failedReport;
    uint64_t skippedCount = 0;
    uint64_t skippedBytes = 0;
    ReportAppender skippedReport;
    SecondClock clock;
};

Q_DECLARE_METATYPE(ReportLog::FileItemInfo)
