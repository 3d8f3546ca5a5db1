#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <QScrollArea>

#include "report/log/reportlog.h"

namespace Ui {
class ResultPage;
}

class QLabel;
class QPushButton;
class QTableWidget;

// The migration report's page: shows the figures and both tables of its ReportLog, which records every
// outcome of a send run (from the transfer thread) and keeps the report files. Everything here runs on the
// GUI thread, apart from AddFile, which only hands the record to the log.
class ResultPage : public QScrollArea
{
    Q_OBJECT

public:
    using FileItemInfo = ReportLog::FileItemInfo;

    // Rows 0 to this one are shown; later records live only in the log, the figures and the files.
    static constexpr int lastShownRow = ReportLog::lastAnnouncedRow;

    explicit ResultPage(QWidget* parent = nullptr);
    ~ResultPage() override;

    // The whole report without scrolling: the summary, both tables' first rows and the buttons. A smaller
    // window (a small screen) scrolls it.
    QSize sizeHint() const override;

    // Forgets every record and empties both tables; the report files stay.
    void Clear();
    // Restores the working report files from the latest report's dated copies, before a further run.
    void SyncFile();
    // Whether the migration's connection was encrypted, in the summary under the report's place; the
    // report files keep their lines. Empty hides it.
    void setChannelText(const QString& text);
    QString channelText() const;

    // Set by the sender engine when a run begins.
    std::chrono::system_clock::time_point transferStartTime {};
    // Set by the sender engine when a run ends: the bytes of its files and when the last file was done,
    // for the average speed (the applications' installation is no transfer).
    uint64_t transferredBytes = 0;
    std::chrono::system_clock::time_point transferEndTime {};
    // Set by the sender engine when a run ends: some item's latest outcome is a failure, and
    // "重新发送失败项" can send it again.
    bool failedToRetry = false;

public slots:
    // Safe to call from any thread: a file left out of the run as already on the receiver unchanged.
    void AddSkipped(const std::string& filename, uint64_t filesize);
    // Safe to call from any thread: the log records it and announces the row to the page on the GUI thread.
    void AddFile(int result, std::string filename, uint64_t filesize, std::chrono::system_clock::time_point startTime);
    void UpdatePage();

signals:
    // "重新发送失败项": the failed items are to go again, to the same receiver.
    void retryFailedRequested();
    // May be emitted from any thread; UpdatePage runs on the GUI thread.
    void UpdatePageRequest();
    // Emitted on the GUI thread, one per row shown.
    void InsertFileRequest(int row, const ResultPage::FileItemInfo& file);
    void InsertFailedFileRequest(int row, const ResultPage::FileItemInfo& file);

private slots:
    // Requests every record not shown yet, up to the last shown row, in order, from the log.
    void showNewSucceededRows();
    void showNewFailedRows();
    void insertFile(int row, const ResultPage::FileItemInfo& file);
    void insertFailedFile(int row, const ResultPage::FileItemInfo& file);
    void on_checkFilesBtn_clicked();
    void on_checkFailedFilesBtn_clicked();

private:
    bool canInsertRow(QTableWidget* table, int row) const;
    QString datedName(const QString& prefix) const;

    // Added beside the form's widgets: the skipped files' count and the button that sends the failed again.
    void addResumeWidgets();

    Ui::ResultPage* ui;
    QLabel* skippedCaption = nullptr;
    QLabel* skippedCount = nullptr;
    QPushButton* retryFailedBtn = nullptr;
    QLabel* channel = nullptr;
    ReportLog reportLog;
    // The report time as the dated copies are named, whatever language the label speaks, and the label's
    // text for it. A label set otherwise names the copies itself.
    QString reportTimeText;
    QString shownReportTimeText;
    QString copiesTimeText() const;
};
