#include "report/resultpage.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>

#include "common/sizetext.h"
#include "common/transferfigures.h"
#include "report/log/reportcommands.h"
#include "report/log/reportline.h"
#include "report/log/resultcodes.h"
#include "ui_resultpage.h"

namespace {

constexpr int preferredWidth = 760;

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

// A screen reader reads a cell through its item, never through the label shown in it.
void describeRow(QTableWidget* table, int row)
{
    for (int column = 0; column < table->columnCount(); ++column) {
        const auto* label = qobject_cast<const QLabel*>(table->cellWidget(row, column));
        if (!label) {
            continue;
        }
        auto* item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled);
        item->setData(Qt::AccessibleTextRole, label->text());
        table->setItem(row, column, item);
    }
}

QString durationText(const ResultPage::FileItemInfo& file)
{
    return getShownTimeText(getDurationSeconds(file.startTime, file.endTime));
}

} // namespace

ResultPage::ResultPage(QWidget* parent) : QScrollArea(parent), ui(new Ui::ResultPage)
{
    // For queued connections to the request signals, under the name they are declared with.
    qRegisterMetaType<ResultPage::FileItemInfo>("ResultPage::FileItemInfo");
    ui->setupUi(this);
    reportTimeText = ui->timeL->text();
    shownReportTimeText = reportTimeText;
    channel = new QLabel(this);
    channel->setObjectName(QStringLiteral("channelL"));
    channel->setFont(ui->reportLocationL->font());
    channel->hide();
    ui->reportInfoLayout->addWidget(channel);

    // Announcements from the transfer thread reach the page queued; the records themselves are read from the log
    // here, so the tables are only ever touched on this thread.
    connect(&reportLog, &ReportLog::succeededAdded, this, &ResultPage::showNewSucceededRows);
    connect(&reportLog, &ReportLog::failedAdded, this, &ResultPage::showNewFailedRows);
    connect(this, &ResultPage::InsertFileRequest, this, &ResultPage::insertFile);
    connect(this, &ResultPage::InsertFailedFileRequest, this, &ResultPage::insertFailedFile);
    connect(this, &ResultPage::UpdatePageRequest, this, &ResultPage::UpdatePage);

    ui->tableWidget->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui->tableWidget->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    ui->tableWidget_2->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui->tableWidget->setFrameShape(QFrame::NoFrame);
    ui->tableWidget_2->setFrameShape(QFrame::NoFrame);
    addResumeWidgets();
}

void ResultPage::addResumeWidgets()
{
    // Under the sent files' figures: skipped files were neither sent nor failed.
    skippedCaption = new QLabel(tr("跳过文件数"), ui->infoWidget);
    skippedCaption->setObjectName(QStringLiteral("skippedCountCaption"));
    skippedCount = new QLabel(ui->infoWidget);
    skippedCount->setObjectName(QStringLiteral("skippedCount"));
    skippedCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int row = ui->infoWidgetLayout->rowCount();
    ui->infoWidgetLayout->addWidget(skippedCaption, row, 0);
    ui->infoWidgetLayout->addWidget(skippedCount, row, 1);
    skippedCaption->hide();
    skippedCount->hide();

    // Beside the failed files' details button.
    retryFailedBtn = new QPushButton(tr("重新发送失败项"), this);
    retryFailedBtn->setObjectName(QStringLiteral("retryFailedBtn"));
    retryFailedBtn->setCursor(Qt::PointingHandCursor);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(retryFailedBtn);
    const int at = ui->gridLayout->indexOf(ui->checkFailedFilesBtn);
    if (at >= 0) {
        int r = 0;
        int c = 0;
        int rows = 0;
        int columns = 0;
        ui->gridLayout->getItemPosition(at, &r, &c, &rows, &columns);
        ui->gridLayout->removeWidget(ui->checkFailedFilesBtn);
        buttons->addWidget(ui->checkFailedFilesBtn);
        ui->gridLayout->addLayout(buttons, r, c, rows, columns, Qt::AlignRight | Qt::AlignVCenter);
    } else {
        ui->gridLayout->addLayout(buttons, ui->gridLayout->rowCount(), 0, 1, -1, Qt::AlignRight);
    }
    retryFailedBtn->hide();
    connect(retryFailedBtn, &QPushButton::clicked, this, &ResultPage::retryFailedRequested);
}

ResultPage::~ResultPage()
{
    delete ui;
}

QSize ResultPage::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int frame = 2 * frameWidth();
    QSize size = widget()->sizeHint()
        + QSize(margins.left() + margins.right() + frame, margins.top() + margins.bottom() + frame);
    // The tables' first column shows whole paths; the tiles alone would leave it a stub.
    size.setWidth(std::max(size.width(), preferredWidth));
    return size;
}

void ResultPage::AddSkipped(const std::string& filename, uint64_t filesize)
{
    reportLog.addSkipped(filename, filesize);
}

void ResultPage::AddFile(
    int result, std::string filename, uint64_t filesize, std::chrono::system_clock::time_point startTime)
{
    reportLog.addFile(result, std::move(filename), filesize, startTime);
}

void ResultPage::UpdatePage()
{
    const ReportLog::Totals totals = reportLog.totals();
    const uint64_t succeeded = totals.succeededCount;
    const uint64_t failed = totals.failedCount;
    ui->fileCountL->setText(QString::number(succeeded + failed));
    ui->dataSizeL->setText(getSizeText(totals.succeededBytes + totals.failedBytes));
    ui->transPercentageL->setText(getPercentageText(succeeded, failed));
    ui->sentCount->setText(QString::number(succeeded));
    ui->sentSize->setText(getSizeText(totals.succeededBytes));
    ui->failedCount->setText(QString::number(failed));
    ui->failedSize->setText(getSizeText(totals.failedBytes));
    skippedCount->setText(QString::number(totals.skippedCount));
    skippedCaption->setVisible(totals.skippedCount > 0);
    skippedCount->setVisible(totals.skippedCount > 0);
    retryFailedBtn->setVisible(failedToRetry && failed > 0);

    const QDateTime reportTime = QDateTime::currentDateTime();
    reportTimeText = getReportTimeText(reportTime);
    shownReportTimeText = getShownReportTimeText(reportTime);
    ui->timeL->setText(shownReportTimeText);
    const QString location = QDir::currentPath();
    ui->reportLocationL->setText(tr("报告路径：") + location);
    ui->reportLocationL->setToolTip(location);

    // A page that never saw a run has no start time; it took no time rather than decades.
    const bool started = transferStartTime != std::chrono::system_clock::time_point {};
    const uint64_t totalSeconds = started ? getDurationSeconds(transferStartTime, std::chrono::system_clock::now()) : 0;
    ui->totalTimeL->setText(getShownTimeText(totalSeconds));
    const std::optional<double> average
        = started ? getAverageSpeed(transferredBytes, transferEndTime - transferStartTime) : std::nullopt;
    ui->averageSpeedL->setText(tr("平均速度 ") + (average ? getSpeedText(*average) : QStringLiteral("--")));

    showNewFailedRows();
    showNewSucceededRows();

    reportLog.makeDatedCopies(copiesTimeText());
}

void ResultPage::Clear()
{
    reportLog.clear();
    ui->tableWidget->setRowCount(0);
    ui->tableWidget_2->setRowCount(0);
    skippedCaption->hide();
    skippedCount->hide();
    retryFailedBtn->hide();
    failedToRetry = false;
}

void ResultPage::SyncFile()
{
    reportLog.restore(copiesTimeText());
}

void ResultPage::showNewSucceededRows()
{
    int row = ui->tableWidget_2->rowCount();
    for (const FileItemInfo& file : reportLog.succeededFiles(static_cast<std::size_t>(row), lastShownRow + 1)) {
        emit InsertFileRequest(row++, file);
    }
}

void ResultPage::showNewFailedRows()
{
    int row = ui->tableWidget->rowCount();
    for (const FileItemInfo& file : reportLog.failedFiles(static_cast<std::size_t>(row), lastShownRow + 1)) {
        emit InsertFailedFileRequest(row++, file);
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
    describeRow(table, row);
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
    table->setCellWidget(row, 2, makeCell(getShownFailureReason(file.reason)));
    table->setCellWidget(row, 3, makeCell(getClockText(file.time)));
    table->setCellWidget(row, 4, makeCell(durationText(file)));
    describeRow(table, row);
}

void ResultPage::on_checkFilesBtn_clicked()
{
    openReportCopy(datedName(getSucceededCopyPrefix()));
}

void ResultPage::on_checkFailedFilesBtn_clicked()
{
    openReportCopy(datedName(getFailedCopyPrefix()));
}

bool ResultPage::canInsertRow(QTableWidget* table, int row) const
{
    // Row i shows record i: a request for a row already shown, or one ahead of the next row, is ignored.
    return row >= 0 && row <= lastShownRow && row == table->rowCount();
}

QString ResultPage::copiesTimeText() const
{
    return ui->timeL->text() == shownReportTimeText ? reportTimeText : ui->timeL->text();
}

QString ResultPage::datedName(const QString& prefix) const
{
    return getDatedName(prefix, copiesTimeText());
}

void ResultPage::setChannelText(const QString& text)
{
    channel->setText(text);
    channel->setVisible(!text.isEmpty());
}

QString ResultPage::channelText() const
{
    return channel->text();
}
