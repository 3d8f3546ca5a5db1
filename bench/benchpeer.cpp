// One computer of a benchmark migration: the real wizard on the offscreen platform, driven by line
// commands on standard input. Every command is answered by one line "@@BENCH@@ ..." on standard output;
// the program's own per-file diagnostics go there too and are skipped by the driver.
//
// The process does not make a network namespace of its own: bench/run.sh starts the whole benchmark in a
// private one, where receiver, sender and the baselines meet on loopback.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

#include "app/mainwindow.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"
#include "connect/oldpcview.h"
#include "connect/pcitem.h"
#include "connect/pcpairpage.h"
#include "select/listitem.h"

namespace {

constexpr int StepTimeoutMs = 600000;

void reply(const std::string& text)
{
    std::printf("@@BENCH@@ %s\n", text.c_str());
    std::fflush(stdout);
}

std::string utf8(const QString& s)
{
    return s.toUtf8().toStdString();
}

QString labelText(QWidget* root, const char* name)
{
    auto* label = root ? root->findChild<QLabel*>(name) : nullptr;
    return label ? label->text() : QString();
}

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Peak resident set size in KiB, as the kernel keeps it since the last reset.
std::string peakMemory()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0) {
            return std::to_string(std::strtoull(line.c_str() + 6, nullptr, 10));
        }
    }
    return "0";
}

bool resetPeakMemory()
{
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
    return static_cast<bool>(refs.flush());
}

class LineReader
{
public:
    explicit LineReader(int fd) : fd(fd) { }
    bool fill()
    {
        char chunk[512];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof(chunk));
            if (n > 0) {
                pending.append(chunk, static_cast<std::size_t>(n));
                return true;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
    }
    bool next(std::string& line)
    {
        const std::size_t end = pending.find('\n');
        if (end == std::string::npos) {
            return false;
        }
        line = pending.substr(0, end);
        pending.erase(0, end + 1);
        return true;
    }

private:
    int fd;
    std::string pending;
};

class Driver
{
public:
    explicit Driver(const std::string& role) : role(role)
    {
        window.show();
        newPage = window.findChild<NewPCConnectPage*>();
        oldPage = window.findChild<OldPCConnectPage*>();
        QObject::connect(newPage, &NewPCConnectPage::Done, [this](int code) { receiverDone << code; });
        QObject::connect(oldPage, &OldPCConnectPage::Done, [this](int code) { senderDone << code; });
    }

    void handle(const std::string& line)
    {
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (command == "role") {
            chooseRole();
        } else if (command == "settle") {
            settle();
        } else if (command == "cards") {
            waitForCards();
        } else if (command == "idlecpu") {
            idleCpu(std::atoi(arg.c_str()));
        } else if (command == "click") {
            clickCard();
        } else if (command == "code") {
            readCode();
        } else if (command == "type") {
            typeCode(arg);
        } else if (command == "select") {
            selectHome();
        } else if (command == "start") {
            startTransfer();
        } else if (command == "waitdone") {
            waitReceiverDone();
        } else if (command == "hwmreset") {
            reply(resetPeakMemory() ? "reset" : "error cannot reset the peak");
        } else if (command == "hwm") {
            reply("hwm " + peakMemory());
        } else if (command == "quit") {
            reply("bye");
            QCoreApplication::quit();
        } else {
            reply("error unknown command " + command);
        }
    }

private:
    // Runs the event loop as the application would (blocked in poll until something happens), checking
    // the condition every few milliseconds; QTest::qWaitFor would sleep the GUI thread between checks.
    bool waitFor(const std::function<bool()>& condition, const std::string& what, int timeoutMs = StepTimeoutMs)
    {
        if (condition()) {
            return true;
        }
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (condition()) {
                loop.quit();
            }
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        check.start(5);
        loop.exec();
        if (condition()) {
            return true;
        }
        reply("error timed out waiting for " + what);
        return false;
    }

    // The application inventory runs package tools at start-up; a benchmark run begins after it, as a user
    // who has just opened the wizard would not yet have started either.
    void settle()
    {
        QElapsedTimer clock;
        clock.start();
        QElapsedTimer quiet;
        quiet.start();
        const bool settled = waitFor(
            [&] {
                if (hasChildren()) {
                    quiet.restart();
                }
                return quiet.elapsed() >= 1500;
            },
            "the start-up tools to end");
        if (settled) {
            reply("settled " + std::to_string(clock.elapsed() / 1000.0));
        }
    }

    static bool hasChildren()
    {
        QDir tasks("/proc/self/task");
        for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            std::ifstream children(("/proc/self/task/" + task + "/children").toStdString());
            std::string pid;
            if (children >> pid) {
                return true;
            }
        }
        return false;
    }

    void chooseRole()
    {
        auto* chooser = window.findChild<QWidget*>("choosePC");
        auto* card = chooser->findChild<QWidget*>(role == "receiver" ? "pcwidget" : "oldpcwidget");
        QTest::mouseClick(chooser, Qt::LeftButton, {}, card->geometry().center());
        auto* next = window.findChild<QPushButton*>("nextBtn");
        if (!waitFor([&] { return next->isEnabled(); }, "the next button")) {
            return;
        }
        QTest::mouseClick(next, Qt::LeftButton);
        reply("ok");
    }

    void waitForCards()
    {
        if (!waitFor([&] { return !oldPage->GetOldPCView()->findChildren<PCItem*>().isEmpty(); }, "a card")) {
            return;
        }
        reply("cards");
    }

    // CPU time of the whole process while the event loop runs on the receiver list.
    void idleCpu(int seconds)
    {
        const double before = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        waitFor([&] { return clock.elapsed() >= seconds * 1000; }, "the idle time");
        const double used = cpuSeconds() - before;
        reply("idlecpu " + std::to_string(used) + " " + std::to_string(clock.elapsed() / 1000.0));
    }

    void clickCard()
    {
        const auto cards = oldPage->GetOldPCView()->findChildren<PCItem*>();
        if (cards.isEmpty()) {
            reply("error no card");
            return;
        }
        QTest::mouseClick(cards.first(), Qt::LeftButton);
        reply("pairing");
    }

    void readCode()
    {
        auto* view = newPage->findChild<QStackedWidget*>("view");
        if (!waitFor([&] { return view->currentIndex() == 1; }, "the pairing page")) {
            return;
        }
        auto* pair = newPage->findChild<PCPairPage*>();
        std::string code;
        for (const char* box : {"p1", "p2", "p3", "p4", "p5", "p6"}) {
            code += utf8(labelText(pair, box));
        }
        reply("code " + code);
    }

    void typeCode(const std::string& code)
    {
        QTest::keyClicks(oldPage->findChild<PCPairPage*>("page_2"), QString::fromStdString(code));
        auto* stack = oldPage->findChild<QStackedWidget*>("stackedWidget");
        if (!waitFor([&] { return stack->currentIndex() == 2; }, "the selection page")) {
            return;
        }
        reply("selecting");
    }

    // Checks "用户数据" and times the scan until the page takes input again; meanwhile a 10 ms timer on the
    // GUI thread measures the longest stall of the event loop.
    void selectHome()
    {
        auto* list = oldPage->findChild<QListWidget*>("confList");
        auto* start = oldPage->findChild<QPushButton*>("pushButton");
        ListItem* row = nullptr;
        for (int i = 0; i < list->count(); ++i) {
            auto* item = qobject_cast<ListItem*>(list->itemWidget(list->item(i)));
            if (item && item->text() == QString("用户数据")) {
                row = item;
            }
        }
        if (!row || !waitFor([&] { return list->isEnabled() && start->isEnabled(); }, "the selection lists")) {
            reply("error no home row");
            return;
        }
        QElapsedTimer tick;
        qint64 longestStall = 0;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] { longestStall = std::max(longestStall, tick.restart()); });
        list->scrollToItem(list->item(0));
        QElapsedTimer clock;
        clock.start();
        tick.start();
        probe.start();
        QTest::mouseClick(row->findChild<QCheckBox*>("checkBox"), Qt::LeftButton);
        // The scan has ended when the lists take input again.
        if (!waitFor([&] { return list->isEnabled() && start->isEnabled(); }, "the scan")) {
            return;
        }
        const qint64 elapsed = clock.nsecsElapsed();
        probe.stop();
        QCoreApplication::processEvents();
        reply("selected " + std::to_string(elapsed / 1e9) + " " + std::to_string(longestStall) + " "
            + utf8(labelText(oldPage, "selectedFile")));
    }

    void startTransfer()
    {
        const int before = senderDone.size();
        QTimer confirm;
        QObject::connect(&confirm, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                return;
            }
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == "开始传输") {
                    b->click();
                    return;
                }
            }
            box->buttons().first()->click();
        });
        confirm.start(1);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(oldPage->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        auto* stack = oldPage->findChild<QStackedWidget*>("stackedWidget");
        const bool ended
            = waitFor([&] { return senderDone.size() > before && stack->currentIndex() == 4; }, "the report");
        const qint64 elapsed = clock.nsecsElapsed();
        confirm.stop();
        if (!ended) {
            return;
        }
        QWidget* report = oldPage->findChild<QWidget*>("page_5");
        reply("report " + std::to_string(elapsed / 1e9) + " " + std::to_string(senderDone.last()) + " "
            + utf8(labelText(report, "sentCount")) + " " + utf8(labelText(report, "failedCount")));
    }

    void waitReceiverDone()
    {
        if (!waitFor([&] { return !receiverDone.isEmpty(); }, "the receiver's end")) {
            return;
        }
        reply("done " + std::to_string(receiverDone.last()));
    }

    std::string role;
    MainWindow window;
    NewPCConnectPage* newPage = nullptr;
    OldPCConnectPage* oldPage = nullptr;
    QList<int> receiverDone;
    QList<int> senderDone;
};

} // namespace

int main(int argc, char** argv)
{
    const std::string role = argc > 1 ? argv[1] : "";
    if (role != "receiver" && role != "sender") {
        std::fprintf(stderr, "usage: %s receiver|sender\n", argv[0]);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    Driver driver(role);
    reply("up");

    LineReader input(STDIN_FILENO);
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        notifier.setEnabled(false);
        if (!input.fill()) {
            QCoreApplication::quit();
            return;
        }
        std::string command;
        while (input.next(command)) {
            driver.handle(command);
        }
        notifier.setEnabled(true);
    });
    return app.exec();
}
