#pragma once

#include <functional>

#include <QDir>
#include <QString>
#include <QStringList>

class MainWindow;
class QWidget;

// Walks the real wizard through its pages, as a user would see them, and saves a picture of each.
// Pages are found by their object names, so a page that does not exist yet is simply not pictured.
class PageTour
{
public:
    PageTour(MainWindow& window, const QDir& output);

    void run();

    QStringList saved() const { return m_saved; }
    QStringList skipped() const { return m_skipped; }

private:
    void chooser();
    void receiver();
    void sender();
    void selection(QWidget* senderPage);
    void transferAndReport(QWidget* senderPage);

    bool save(QWidget* widget, const QString& name);
    void skip(const QString& name, const QString& why);
    // Runs `open`, which shows a modal box; lets `prepare` arrange the box, pictures it, then closes it with
    // the button `closeText`.
    void grabModal(const QString& name, const QString& closeText, const std::function<void()>& open,
        const std::function<void(QWidget*)>& prepare = {});
    bool click(const char* buttonName);
    QWidget* contentPage(int index) const;

    MainWindow& m_window;
    QDir m_output;
    QStringList m_saved;
    QStringList m_skipped;
};

// A path of the demo home ("文档/年度总结.docx") in the interface's language: the English pictures show a home
// an English speaker would have.
QString demoPath(const char* chinesePath);

// Lets the event loop run for `ms` milliseconds, so that queued signals, timers and scans have their effect.
void settle(int ms);
