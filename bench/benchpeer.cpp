// One computer of a benchmark migration: the real wizard on the offscreen platform, driven by line
// commands on standard input. Every command is answered by one line "@@BENCH@@ ..." on standard output;
// the program's own console lines go to "console.log" in the working folder.
//
// The process does not make a network namespace of its own: bench/run.sh starts the whole benchmark in a
// private one, where receiver, sender and the baselines meet on loopback.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "app/mainwindow.h"
#include "connect/oldpcconnectpage.h"
#include "net/announcer.h"
#include "net/capabilitymark.h"
#include "report/resultpage.h"
#include "wizarddriver.h"

namespace {

const std::string Marker = "@@BENCH@@";
constexpr int StepTimeoutMs = 600000;

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

bool hasChildren()
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

class BenchCommands
{
public:
    explicit BenchCommands(const std::string& role) : driver(role, Marker, StepTimeoutMs) { }

    void handle(const std::string& line)
    {
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (command == "role") {
            if (driver.chooseRole()) {
                driver.reply("ok");
            }
        } else if (command == "settle") {
            settle();
        } else if (command == "cards") {
            if (driver.waitForCards(1)) {
                driver.reply("cards");
            }
        } else if (command == "idlecpu") {
            idleCpu(std::atoi(arg.c_str()));
        } else if (command == "click") {
            if (driver.clickCard()) {
                driver.reply("pairing");
            }
        } else if (command == "code") {
            std::string code;
            if (driver.receiverCode(code)) {
                driver.reply("code " + code);
            }
        } else if (command == "type") {
            if (driver.typeCode(arg)) {
                driver.reply("selecting");
            }
        } else if (command == "select") {
            selectHome();
        } else if (command == "start") {
            startTransfer();
        } else if (command == "waitdone") {
            if (driver.waitReceiverEnd(1)) {
                driver.reply("done " + std::to_string(driver.receiverEnds().last()));
            }
        } else if (command == "hwmreset") {
            driver.reply(resetPeakMemory() ? "reset" : "error cannot reset the peak");
        } else if (command == "hwm") {
            driver.reply("hwm " + peakMemory());
        } else if (command == "withhold" && arg == "secure") {
            // The receiver of a plain run: it does not announce the secure channel, so the sender speaks the
            // protocol as written to it.
            withholdCapabilities(CapabilityMark::Secure);
            driver.reply("withheld");
        } else if (command == "shows") {
            driver.reply(showsText(QString::fromStdString(arg)) ? "shows yes" : "shows no");
        } else if (command == "quit") {
            driver.reply("bye");
            QCoreApplication::quit();
        } else {
            driver.reply("error unknown command " + command);
        }
    }

private:
    // True when a visible label of the window holds the text.
    bool showsText(const QString& text)
    {
        for (QLabel* label : driver.window().findChildren<QLabel*>()) {
            if (label->isVisible() && label->text().contains(text)) {
                return true;
            }
        }
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
        const bool settled = driver.waitFor(
            [&] {
                if (hasChildren()) {
                    quiet.restart();
                }
                return quiet.elapsed() >= 1500;
            },
            "the start-up tools to end");
        if (settled) {
            driver.reply("settled " + std::to_string(clock.elapsed() / 1000.0));
        }
    }

    // CPU time of the whole process while the event loop runs on the receiver list.
    void idleCpu(int seconds)
    {
        const double before = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        driver.waitFor([&] { return clock.elapsed() >= seconds * 1000; }, "the idle time");
        const double used = cpuSeconds() - before;
        driver.reply("idlecpu " + std::to_string(used) + " " + std::to_string(clock.elapsed() / 1000.0));
    }

    // Checks "用户数据" and times the scan until the page takes input again; meanwhile a 10 ms timer on the
    // GUI thread measures the longest stall of the event loop.
    void selectHome()
    {
        QElapsedTimer tick;
        qint64 longestStall = 0;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] { longestStall = std::max(longestStall, tick.restart()); });
        QElapsedTimer clock;
        clock.start();
        tick.start();
        probe.start();
        if (!driver.checkRows({"用户数据"})) {
            return;
        }
        const qint64 elapsed = clock.nsecsElapsed();
        probe.stop();
        QCoreApplication::processEvents();
        driver.reply("selected " + std::to_string(elapsed / 1e9) + " " + std::to_string(longestStall) + " "
            + utf8(WizardDriver::label(driver.senderPage(), "selectedFile")));
    }

    // Times the transfer from the click to the report page; also how long the report page took to open
    // after the run's last result (from the worker's request to fill the page until the page is current
    // and the event loop free again), and the longest stall of the event loop meanwhile.
    void startTransfer()
    {
        const int before = driver.senderEnds().size();
        auto* results = driver.senderPage()->findChild<ResultPage*>();
        std::atomic<qint64> runEnded {0};
        QElapsedTimer since;
        since.start();
        QMetaObject::Connection ended;
        if (results != nullptr) {
            ended = QObject::connect(
                results, &ResultPage::UpdatePageRequest, results, [&] { runEnded = since.nsecsElapsed(); },
                Qt::DirectConnection);
        }
        QElapsedTimer tick;
        qint64 longestStall = 0;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] { longestStall = std::max(longestStall, tick.restart()); });
        QElapsedTimer clock;
        clock.start();
        tick.start();
        probe.start();
        if (!driver.beginTransfer(nullptr) || !driver.waitReport(before)) {
            return;
        }
        const qint64 elapsed = clock.nsecsElapsed();
        QCoreApplication::processEvents();
        const qint64 opened = since.nsecsElapsed();
        probe.stop();
        QObject::disconnect(ended);
        const double openMs = runEnded.load() > 0 ? (opened - runEnded.load()) / 1e6 : -1;
        QWidget* report = driver.senderPage()->findChild<QWidget*>("page_5");
        driver.reply("report " + std::to_string(elapsed / 1e9) + " " + std::to_string(driver.senderEnds().last()) + " "
            + utf8(WizardDriver::label(report, "sentCount")) + " " + utf8(WizardDriver::label(report, "failedCount"))
            + " " + std::to_string(openMs) + " " + std::to_string(longestStall));
    }

    WizardDriver driver;
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
    // The program's per-file console lines go to "console.log" in the working folder, as they would to a
    // terminal or a log; the benchmark's pipe carries the replies only, so its reader does not wake (and
    // take a core from the migration) for every file, which no user's terminal does either.
    std::FILE* replies = ::fdopen(::dup(STDOUT_FILENO), "w");
    const int console = ::open("console.log", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (replies == nullptr || console < 0 || ::dup2(console, STDOUT_FILENO) < 0) {
        std::printf("%s error cannot set up console.log\n", Marker.c_str());
        return 1;
    }
    ::close(console);
    setReplyStream(replies);
    BenchCommands commands(role);
    std::fprintf(replies, "%s up\n", Marker.c_str());
    std::fflush(replies);
    LineReader input(STDIN_FILENO);
    return runCommands(app, input, [&](const std::string& line) { commands.handle(line); });
}
