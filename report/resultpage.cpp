#include "report/resultpage.h"

#include <utility>

#include <QDateTime>
#include <QDir>
#include <QHeaderView>
#include <QLabel>

#include "report/log/reportcommands.h"
#include "report/log/reportline.h"
#include "report/log/resultcodes.h"
#include "common/shellcommand.h"
#include "common/sizetext.h"
#include "ui_resultpage.h"

namespace {

QLabel* makeCell(const QString& text, Qt::Alignment alignment = Qt::AlignCenter)
{
    auto* label = new QLabel;
    // File names come from disk and from the receiver: never let one be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment);
    label->setText(text);
    return label;
}

QLabel* makeNameCell(const std::string& filename)
{
    const QString name = QString::fromStdString(filename);
    QLabel* label = makeCell(name, Qt::AlignLeft | Qt::AlignVCenter);
    label->setToolTip(QStringLiteral("<p style='white-space:pre'>%1</p>").arg(name.toHtmlEscaped()));
    return label;
}

QString durationText(const ResultPage::FileItemInfo& file)
{
    return getTimeText(getDurationSeconds(file.startTime, file.endTime));
}

} // namespace

ResultPage::ResultPage(QWidget* parent)
    : QScrollArea(parent), ui(new Ui::ResultPage), succeededReport(succeededReportFile), failedReport(failedReportFile)
{
    qRegisterMetaType<ResultPage::FileItemInfo>("ResultPage::FileItemInfo");
    ui->setupUi(this);

    connect(this, &ResultPage::InsertFileRequest, this, &ResultPage::insertFile);
    connect(this, &ResultPage::InsertFailedFileRequest, this, &ResultPage::insertFailedFile);
    connect(this, &ResultPage::UpdatePageRequest, this, &ResultPage::UpdatePage);

    ui->tableWidget->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui->tableWidget->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    ui->tableWidget_2->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui->tableWidget->setFrameShape(QFrame::NoFrame);
    ui->tableWidget_2->setFrameShape(QFrame::NoFrame);
}

ResultPage::~ResultPage()
{
    delete ui;
}

void ResultPage::AddFile(
    int result, std::string filename, uint64_t filesize, std::chrono::system_clock::time_point startTime)
{
    std::lock_guard<std::mutex> lock(fileMutex);

    FileItemInfo item;
    item.filename = std::move(filename);
    item.reason = getFailureReason(result);
    item.filesize = filesize;
    item.endTime = std::chrono::system_clock::now();
    item.time = clock.timeAt(item.endTime);
    item.startTime = startTime;
    const uint64_t seconds = getDurationSeconds(item.startTime, item.endTime);

    // Requests beyond the last shown row would only be ignored by the GUI thread; a long run must not
    // flood its queue with copies.
    if (result == 0) {
        succeededBytes += filesize;
        succeededReport.append(getSucceededLine(item.filename, filesize, item.time, seconds));
        succeededFiles.push_back(std::move(item));
        const int row = static_cast<int>(succeededFiles.size() - 1);
        if (row <= lastShownRow) {
            emit InsertFileRequest(row, succeededFiles.back());
        }
    } else {
        failedBytes += filesize;
        failedReport.append(getFailedLine(item.filename, filesize, item.reason, item.time, seconds));
        failedFiles.push_back(std::move(item));
        const int row = static_cast<int>(failedFiles.size() - 1);
        if (row <= lastShownRow) {
            emit InsertFailedFileRequest(row, failedFiles.back());
        }
    }
}

void ResultPage::UpdatePage()
{
    std::lock_guard<std::mutex> lock(fileMutex);

    const uint64_t succeeded = succeededFiles.size();
    const uint64_t failed = failedFiles.size();
    ui->fileCountL->setText(QString::number(succeeded + failed));
    ui->dataSizeL->setText(getSizeText(succeededBytes + failedBytes));
    ui->transPercentageL->setText(getPercentageText(succeeded, failed));
    ui->sentCount->setText(QString::number(succeeded));
    ui->sentSize->setText(getSizeText(succeededBytes));
    ui->failedCount->setText(QString::number(failed));
    ui->failedSize->setText(getSizeText(failedBytes));

    ui->timeL->setText(getReportTimeText(QDateTime::currentDateTime()));
    const QString location = QDir::currentPath();
    ui->reportLocationL->setText(QStringLiteral("报告路径：") + location);
    ui->reportLocationL->setToolTip(location);

    // A page that never saw a run has no start time; it took no time rather than decades.
    const bool started = transferStartTime != std::chrono::system_clock::time_point {};
    const uint64_t totalSeconds = started ? getDurationSeconds(transferStartTime, std::chrono::system_clock::now()) : 0;
    ui->totalTimeL->setText(getTimeText(totalSeconds));

    while (ui->tableWidget->rowCount() <= lastShownRow && static_cast<uint64_t>(ui->tableWidget->rowCount()) < failed) {
        const int row = ui->tableWidget->rowCount();
        insertFailedFile(row, failedFiles[row]);
    }
    while (ui->tableWidget_2->rowCount() <= lastShownRow
        && static_cast<uint64_t>(ui->tableWidget_2->rowCount()) < succeeded) {
        const int row = ui->tableWidget_2->rowCount();
        insertFile(row, succeededFiles[row]);
    }

    runShellCommand(getCopyCommand(failedReportFile, datedName(getFailedCopyPrefix())));
    runShellCommand(getCopyCommand(succeededReportFile, datedName(getSucceededCopyPrefix())));
}

void ResultPage::Clear()
{
    std::lock_guard<std::mutex> lock(fileMutex);
    succeededReport.close();
    failedReport.close();
    succeededFiles.clear();
    failedFiles.clear();
    succeededBytes = 0;
    failedBytes = 0;
    ui->tableWidget->setRowCount(0);
    ui->tableWidget_2->setRowCount(0);
}

void ResultPage::SyncFile()
{
    std::lock_guard<std::mutex> lock(fileMutex);
    succeededReport.close();
    failedReport.close();
    if (!succeededFiles.empty()) {
        runShellCommand(getRestoreCommand(datedName(getSucceededCopyPrefix()), succeededReportFile));
    }
    if (!failedFiles.empty()) {
        runShellCommand(getRestoreCommand(datedName(getFailedCopyPrefix()), failedReportFile));
    }
}

void ResultPage::insertFile(int row, const ResultPage::FileItemInfo& file)
{
    QTableWidget* table = ui->tableWidget_2;
    if (!canInsertRow(table, row)) {
        return;
    }
    table->insertRow(row);
    table->setCellWidget(row, 0, makeNameCell(file.filename));
    table->setCellWidget(row, 1, makeCell(getSizeText(file.filesize)));
    table->setCellWidget(row, 2, makeCell(getClockText(file.time)));
    table->setCellWidget(row, 3, makeCell(durationText(file)));
}

void ResultPage::insertFailedFile(int row, const ResultPage::FileItemInfo& file)
{
    QTableWidget* table = ui->tableWidget;
    if (!canInsertRow(table, row)) {
        return;
    }
    table->insertRow(row);
    table->setCellWidget(row, 0, makeNameCell(file.filename));
    table->setCellWidget(row, 1, makeCell(getSizeText(file.filesize)));
    table->setCellWidget(row, 2, makeCell(QString::fromStdString(file.reason)));
    table->setCellWidget(row, 3, makeCell(getClockText(file.time)));
    table->setCellWidget(row, 4, makeCell(durationText(file)));
}

void ResultPage::on_checkFilesBtn_clicked()
{
    runShellCommand(getOpenCommand(datedName(getSucceededCopyPrefix())));
}

void ResultPage::on_checkFailedFilesBtn_clicked()
{
    runShellCommand(getOpenCommand(datedName(getFailedCopyPrefix())));
}

bool ResultPage::canInsertRow(QTableWidget* table, int row) const
{
    // Row i shows record i: a request for a row already shown, or one that arrives ahead of an earlier row
    // (records from several threads), is left to UpdatePage, which fills the table in order.
    return row >= 0 && row <= lastShownRow && row == table->rowCount();
}

QString ResultPage::datedName(const QString& prefix) const
{
    return getDatedName(prefix, ui->timeL->text());
}
