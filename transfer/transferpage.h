#pragma once

#include <mutex>
#include <string>

#include <QTimer>
#include <QWidget>

namespace Ui {
class TransferPage;
}

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

signals:
    void updateProgress(int value);
    void updateText(QString text);
    void updateWorkText(QString text);
    // A text was posted while the GUI thread was not due to look.
    void textPosted();

public slots:
    void setProgress(int value);
    void setText(QString text);
    void setWorkText(QString text);

private:
    void postText(std::string text);
    void refreshText();

    Ui::TransferPage* ui;
    QMovie* loadingMovie;
    // The current item changes hundreds of times a second with small files; the line is redrawn at most
    // once per tick, always ending on the latest text.
    QTimer textTick;
    // Plain bytes between the threads: an implicitly shared QString would be released on either thread.
    std::string shownText;
    std::mutex textMutex;
    std::string latestText; // under textMutex, UTF-8
    bool textAwaited = false; // under textMutex: a textPosted is queued or the tick runs
};
