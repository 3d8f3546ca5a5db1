#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <QMetaType>
#include <QScrollArea>
#include <QTime>

#include "report/log/reportappender.h"
#include "report/log/secondclock.h"

namespace Ui {
class ResultPage;
}

class QTableWidget;

// The migration report: records every outcome of a send run (from the transfer thread), appends it to the
// report files and shows the summary and both tables on the GUI thread.
class ResultPage : public QScrollArea
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

    // Rows 0 to this one are shown; later records live only in the lists, the figures and the files.
    static constexpr int lastShownRow = 100;

    explicit ResultPage(QWidget* parent = nullptr);
    ~ResultPage() override;

    // Forgets every record and empties both tables; the report files stay.
    void Clear();
    // Restores the working report files from the latest report's dated copies, before a further run.
    void SyncFile();

    // Set by the sender engine when a run begins.
    std::chrono::system_clock::time_point transferStartTime {};

public slots:
    // Safe to call from any thread.
    void AddFile(int result, std::string filename, uint64_t filesize, std::chrono::system_clock::time_point startTime);
    void UpdatePage();

signals:
    void UpdatePageRequest();
    void InsertFileRequest(int row, const ResultPage::FileItemInfo& file);
    void InsertFailedFileRequest(int row, const ResultPage::FileItemInfo& file);

private slots:
    void insertFile(int row, const ResultPage::FileItemInfo& file);
    void insertFailedFile(int row, const ResultPage::FileItemInfo& file);
    void on_checkFilesBtn_clicked();
    void on_checkFailedFilesBtn_clicked();

private:
    bool canInsertRow(QTableWidget* table, int row) const;
    QString datedName(const QString& prefix) const;

    Ui::ResultPage* ui;

    uint64_t succeededBytes = 0;
    std::vector<FileItemInfo> succeededFiles;
    uint64_t failedBytes = 0;
    std::vector<FileItemInfo> failedFiles;
    ReportAppender succeededReport;
    ReportAppender failedReport;
    SecondClock clock;
    std::mutex fileMutex;
};

Q_DECLARE_METATYPE(ResultPage::FileItemInfo)
