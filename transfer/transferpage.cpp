#include "transfer/transferpage.h"

#include <utility>

#include <QGridLayout>
#include <QLabel>
#include <QMovie>

#include "ui_transferpage.h"

namespace {

constexpr int TextTickMs = 40;

} // namespace

TransferPage::TransferPage(QWidget* parent) : QWidget(parent), ui(new Ui::TransferPage)
{
    ui->setupUi(this);
    connect(this, &TransferPage::updateProgress, this, &TransferPage::setProgress);
    connect(this, &TransferPage::updateText, this, &TransferPage::setText);
    connect(this, &TransferPage::updateWorkText, this, &TransferPage::setWorkText);

    textTick.setSingleShot(true);
    textTick.setInterval(TextTickMs);
    connect(&textTick, &QTimer::timeout, this, &TransferPage::refreshText);
    connect(this, &TransferPage::textPosted, this, [this] {
        if (!textTick.isActive()) {
            refreshText();
        }
    });

    figuresTick.setInterval(figuresTickMs);
    connect(&figuresTick, &QTimer::timeout, this, &TransferPage::refreshFigures);
    connect(this, &TransferPage::countingStarted, this, &TransferPage::beginFigures);
    connect(this, &TransferPage::countingFinished, this, &TransferPage::endFigures);
    connect(this, &TransferPage::updateInstallText, this, &TransferPage::setInstallText);
    ui->figures->hide();
    ui->installingL->hide();
    channel = new QLabel(this);
    channel->setObjectName(QStringLiteral("channel"));
    channel->setAlignment(Qt::AlignHCenter);
    channel->hide();
    ui->gridLayout->addWidget(channel, ui->gridLayout->rowCount(), 0, 1, ui->gridLayout->columnCount());

    // Below the other lines, where the page has room to spare.
    skippedL = new QLabel(this);
    skippedL->setObjectName(QStringLiteral("skippedL"));
    skippedL->setStyleSheet(QStringLiteral("color:#444;"));
    skippedL->hide();
    ui->gridLayout->addWidget(skippedL, ui->gridLayout->rowCount(), 0, 1, ui->gridLayout->columnCount());
    connect(this, &TransferPage::skippedCounted, this, &TransferPage::setSkipped);

    loadingMovie = new QMovie(QStringLiteral(":/icons/icons/loading_dots.gif"), QByteArray(), this);
    ui->loadingDots->setMovie(loadingMovie);
    // Show the first frame while the dots stand still.
    loadingMovie->jumpToFrame(0);
}

TransferPage::~TransferPage()
{
    delete ui;
}

void TransferPage::textCallback(const std::string& text, void* page)
{
    static_cast<TransferPage*>(page)->postText(text);
}

void TransferPage::postText(std::string text)
{
    bool wake;
    {
        std::lock_guard<std::mutex> lock(textMutex);
        latestText = std::move(text);
        wake = !textAwaited;
        textAwaited = true;
    }
    if (wake) {
        emit textPosted();
    }
}

void TransferPage::callback(int value, void* page)
{
    emit static_cast<TransferPage*>(page)->updateProgress(value);
}

void TransferPage::setProgress(int value)
{
    ui->progressBar->setValue(value > 100 ? 100 : value);
    ui->progressBar->setAccessibleDescription(QString::number(ui->progressBar->value()) + QStringLiteral("%"));
}

void TransferPage::setText(QString text)
{
    {
        std::lock_guard<std::mutex> lock(textMutex);
        latestText = text.toStdString();
        textAwaited = true;
    }
    // The first change after a quiet tick shows at once; later ones wait for the tick's end.
    if (!textTick.isActive()) {
        refreshText();
    }
}

void TransferPage::refreshText()
{
    {
        std::lock_guard<std::mutex> lock(textMutex);
        if (latestText == shownText) {
            // Quiet: the next text posted wakes this thread again.
            textAwaited = false;
            return;
        }
        shownText = latestText;
    }
    ui->currentFile->setText(QString::fromStdString(shownText));
    textTick.start();
}

void TransferPage::setWorkText(QString text)
{
    ui->currentWork->setText(text);
    // Work under way: "正在…" in Chinese; in English its texts end in an ellipsis.
    if (text.contains(QStringLiteral("正在")) || text.endsWith(QLatin1String("..."))) {
        if (loadingMovie->state() != QMovie::Running) {
            loadingMovie->start();
        }
    } else {
        loadingMovie->stop();
    }
}

void TransferPage::setInstallText(QString text)
{
    ui->installingL->setText(text);
    ui->installingL->setVisible(!text.isEmpty());
}

void TransferPage::startCounting(uint64_t files, uint64_t bytes)
{
    filesTotal = files;
    bytesTotal = bytes;
    filesDone = 0;
    bytesDone = 0;
    emit countingStarted();
}

void TransferPage::countBytes(uint64_t bytes)
{
    uint64_t known = bytesDone.load(std::memory_order_relaxed);
    while (bytes > known && !bytesDone.compare_exchange_weak(known, bytes, std::memory_order_relaxed)) { }
}

void TransferPage::countFile()
{
    filesDone.fetch_add(1, std::memory_order_relaxed);
}

void TransferPage::finishCounting()
{
    emit countingFinished();
}

void TransferPage::showSkipped(uint64_t files)
{
    emit skippedCounted(files);
}

void TransferPage::setSkipped(quint64 files)
{
    skippedL->setText(tr("已跳过 %1 个未改动的文件").arg(files));
    skippedL->setVisible(files > 0);
}

void TransferPage::beginFigures()
{
    counting = true;
    figures.start(TransferFigures::Clock::now());
    figures.setTotals(filesTotal, bytesTotal);
    setInstallText(QString());
    ui->figures->show();
    ui->timeLeftL->show();
    refreshFigures();
    figuresTick.start();
}

void TransferPage::refreshFigures()
{
    figures.update(TransferFigures::Clock::now(), filesDone, bytesDone);
    ui->filesL->setText(figures.filesText());
    ui->bytesL->setText(figures.bytesText());
    ui->speedL->setText(figures.speedText());
    ui->timeLeftL->setText(figures.timeLeftText());
}

void TransferPage::endFigures()
{
    if (!counting) {
        return;
    }
    counting = false;
    figuresTick.stop();
    refreshFigures();
    ui->speedL->setText(figures.averageSpeedText());
    ui->timeLeftL->hide();
    setInstallText(QString());
}

void TransferPage::setChannelText(const QString& text)
{
    channel->setText(text);
    channel->setVisible(!text.isEmpty());
}

QString TransferPage::channelText() const
{
    return channel->text();
}
