#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <QTimer>
#include <QWidget>

#include "common/transferfigures.h"

namespace Ui {
class TransferPage;
}

class QLabel;
class QMovie;

// The page shown on both computers while data moves: the two computers, the dots between them, what is
// being done, the current item and the progress. Engines on worker threads drive it only through its
// three signals, which reach the slots queued on the GUI thread.
class TransferPage : public QWidget
{
    Q_OBJECT

public:
    explicit TransferPage(QWidget* parent = nullptr);
    ~TransferPage() override;

    // Adapters for engines that report through plain function pointers; `page` is a TransferPage.
    // Any thread: the text is left for the GUI thread, which is woken only when it is not already due to
    // look (hundreds of small files a second would otherwise cost it a wake-up each).
    static void textCallback(const std::string& text, void* page);
    static void callback(int value, void* page);

    // The figures of a run: files and bytes done of the totals, speed and time left. Any thread; the
    // counts are only stored here, and the GUI thread shows them a few times a second.
    // A new run with its totals; what was counted before is forgotten.
    void startCounting(uint64_t files, uint64_t bytes);
    // Bytes done so far in the run; a lower count than one already given changes nothing.
    void countBytes(uint64_t bytes);
    void countFile();
    // The run is over: the figures stop with the average speed in place of the current one.
    void finishCounting();
    // Files of the run left out as already on the receiver and unchanged (0 hides the line). Any thread.
    void showSkipped(uint64_t files);

    // Whether the connection is encrypted, in a line under the figures; empty hides it. GUI thread.
    void setChannelText(const QString& text);
    QString channelText() const;

    // How often the figures are redrawn while a run is counted.
    static constexpr int figuresTickMs = 250;

signals:
    void updateProgress(int value);
    void updateText(QString text);
    void updateWorkText(QString text);
    // What is being installed (a package, a number of applications); empty hides the line.
    void updateInstallText(QString text);
    // A text was posted while the GUI thread was not due to look.
    void textPosted();
    void countingStarted();
    void countingFinished();
    void skippedCounted(quint64 files);

public slots:
    void setProgress(int value);
    void setText(QString text);
    void setWorkText(QString text);
    void setInstallText(QString text);

private:
    void beginFigures();
    void refreshFigures();
    void endFigures();
    void setSkipped(quint64 files);

    void postText(std::string text);
    void refreshText();

    Ui::TransferPage* ui;
    QMovie* loadingMovie;
    QLabel* skippedL;
    QLabel* channel = nullptr;
    // The current item changes hundreds of times a second with small files; the line is redrawn at most
    // once per tick, always ending on the latest text.
    QTimer textTick;
    // Plain bytes between the threads: an implicitly shared QString would be released on either thread.
    std::string shownText;
    std::mutex textMutex;
    std::string latestText; // under textMutex, UTF-8
    bool textAwaited = false; // under textMutex: a textPosted is queued or the tick runs

    // Written by the engines' threads, read by the figures' tick.
    std::atomic<uint64_t> filesTotal {0};
    std::atomic<uint64_t> bytesTotal {0};
    std::atomic<uint64_t> filesDone {0};
    std::atomic<uint64_t> bytesDone {0};
    // GUI thread only.
    TransferFigures figures;
    QTimer figuresTick;
    bool counting = false;
};
