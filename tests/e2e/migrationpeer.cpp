// One computer of the whole-migration test: the real wizard, driven by commands on standard input.
//
// The process first moves into a network namespace of its own and waits for "go <address> <device>", after
// the test has moved one end of a veth pair into it; it then configures that link and runs MainWindow on the
// offscreen platform. Every command is answered by one line "@@E2E@@ ..." on standard output (the program's
// own diagnostics go there too).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
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
#include "select/selectdataview.h"

namespace {

constexpr int StepTimeoutMs = 120000;

void reply(const std::string& text)
{
    std::printf("@@E2E@@ %s\n", text.c_str());
    std::fflush(stdout);
}

bool run(const std::vector<std::string>& args)
{
    const pid_t pid = ::fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Line reader over a descriptor, without stdio buffering that a notifier would not see.
class LineReader
{
public:
    explicit LineReader(int fd) : fd(fd) { }
    // Reads what is available (waiting for it when nothing is); false at the end of the input.
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

QString text(QWidget* root, const char* name)
{
    auto* label = root ? root->findChild<QLabel*>(name) : nullptr;
    return label ? label->text() : QString();
}

std::string utf8(const QString& s)
{
    return s.toUtf8().toStdString();
}

class Driver : public QObject
{
public:
    Driver(const std::string& role) : role(role)
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
        } else if (command == "cards") {
            waitForCards(std::atoi(arg.c_str()));
        } else if (command == "click") {
            clickCard();
        } else if (command == "code") {
            readCode();
        } else if (command == "type") {
            typeCode(arg);
        } else if (command == "typepart") {
            QTest::keyClicks(oldPage->findChild<PCPairPage*>("page_2"), QString::fromStdString(arg));
            reply("typed");
        } else if (command == "select") {
            selectHomeAndSettings();
        } else if (command == "start") {
            startTransfer(arg);
        } else if (command == "waitdone") {
            waitReceiverDone(std::atoi(arg.c_str()));
        } else if (command == "again") {
            transferAgain();
        } else if (command == "shot") {
            reply(window.grab().save(QString::fromStdString(arg)) ? "shot" : "error cannot save " + arg);
        } else if (command == "quit") {
            reply("bye");
            QCoreApplication::quit();
        } else {
            reply("error unknown command " + command);
        }
    }

private:
    bool waitFor(const std::function<bool()>& condition, const std::string& what)
    {
        if (QTest::qWaitFor(condition, StepTimeoutMs)) {
            return true;
        }
        reply("error timed out waiting for " + what);
        return false;
    }

    QWidget* page(QWidget* root, const char* name) { return root->findChild<QWidget*>(name); }

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
        auto* content = window.findChild<QStackedWidget*>("content");
        reply(content->currentIndex() == (role == "receiver" ? 1 : 2) ? "ok" : "error role page not shown");
    }

    void waitForCards(int count)
    {
        if (!waitFor([&] { return oldPage->GetOldPCView()->findChildren<PCItem*>().size() >= count; }, "cards")) {
            return;
        }
        std::string out = "cards";
        for (PCItem* card : oldPage->GetOldPCView()->findChildren<PCItem*>()) {
            out += " " + utf8(text(card, "hostname_label")) + "@" + utf8(text(card, "ipLabel"));
        }
        reply(out);
    }

    void clickCard()
    {
        const auto cards = oldPage->GetOldPCView()->findChildren<PCItem*>();
        if (cards.isEmpty()) {
            reply("error no card");
            return;
        }
        QTest::mouseClick(cards.first(), Qt::LeftButton);
        auto* stack = oldPage->findChild<QStackedWidget*>("stackedWidget");
        reply(stack->currentIndex() == 1 ? "pairing" : "error page " + std::to_string(stack->currentIndex()));
    }

    void readCode()
    {
        auto* view = newPage->findChild<QStackedWidget*>("view");
        if (!waitFor([&] { return view->currentIndex() == 1; }, "the receiver's pairing page")) {
            return;
        }
        auto* pair = newPage->findChild<PCPairPage*>();
        std::string code;
        for (const char* box : {"p1", "p2", "p3", "p4", "p5", "p6"}) {
            code += utf8(text(pair, box));
        }
        reply("code " + code);
    }

    void typeCode(const std::string& code)
    {
        auto* pair = oldPage->findChild<PCPairPage*>("page_2");
        QTest::keyClicks(pair, QString::fromStdString(code));
        auto* stack = oldPage->findChild<QStackedWidget*>("stackedWidget");
        if (!waitFor([&] { return stack->currentIndex() == 2; }, "the selection page")) {
            return;
        }
        reply("selecting " + utf8(text(oldPage, "totalSpaceL")));
    }

    ListItem* confRow(const QString& name)
    {
        auto* list = oldPage->findChild<QListWidget*>("confList");
        for (int i = 0; i < list->count(); ++i) {
            auto* row = qobject_cast<ListItem*>(list->itemWidget(list->item(i)));
            if (row && row->text() == name) {
                return row;
            }
        }
        return nullptr;
    }

    void selectHomeAndSettings()
    {
        auto* list = oldPage->findChild<QListWidget*>("confList");
        auto* start = oldPage->findChild<QPushButton*>("pushButton");
        for (const QString& name : {QString("用户数据"), QString("系统设置")}) {
            ListItem* row = confRow(name);
            if (!row) {
                reply("error no row " + utf8(name));
                return;
            }
            if (!waitFor([&] { return list->isEnabled() && start->isEnabled(); }, "the selection lists")) {
                return;
            }
            list->scrollToItem(list->item(0));
            QTest::mouseClick(row->findChild<QCheckBox*>("checkBox"), Qt::LeftButton);
            if (!row->isChecked()) {
                reply("error row not checked " + utf8(name));
                return;
            }
        }
        if (!waitFor([&] { return list->isEnabled() && start->isEnabled(); }, "the scans")) {
            return;
        }
        QTest::qWait(300);
        reply("selected " + utf8(text(oldPage, "selectedFile")) + "|" + utf8(text(oldPage, "spaceTaken")));
    }

    void startTransfer(const std::string& shotPath)
    {
        const int before = senderDone.size();
        auto* progress = oldPage->findChild<QProgressBar*>("progressBar");
        QMetaObject::Connection shot;
        if (!shotPath.empty()) {
            shot = QObject::connect(progress, &QProgressBar::valueChanged, [this, shotPath, &shot](int value) {
                if (value >= 30) {
                    window.grab().save(QString::fromStdString(shotPath));
                    QObject::disconnect(shot);
                }
            });
        }
        QTimer confirm;
        QString confirmText;
        QObject::connect(&confirm, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                return;
            }
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == "开始传输") {
                    confirmText = box->windowTitle() + ":" + box->text();
                    b->click();
                    return;
                }
            }
            box->buttons().first()->click();
        });
        confirm.start(20);
        QTest::mouseClick(oldPage->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        auto* stack = oldPage->findChild<QStackedWidget*>("stackedWidget");
        auto* again = window.findChild<QPushButton*>("transferAgainBtn");
        const bool ended
            = waitFor([&] { return senderDone.size() > before && stack->currentIndex() == 4 && again->isVisible(); },
                "the report");
        confirm.stop();
        QObject::disconnect(shot);
        if (!ended) {
            return;
        }
        QWidget* report = oldPage->findChild<QWidget*>("page_5");
        reply("report " + std::to_string(senderDone.last()) + "|" + utf8(text(report, "fileCountL")) + "|"
            + utf8(text(report, "sentCount")) + "|" + utf8(text(report, "failedCount")) + "|"
            + utf8(text(report, "transPercentageL")) + "|" + utf8(confirmText.simplified()));
    }

    void waitReceiverDone(int count)
    {
        if (!waitFor([&] { return receiverDone.size() >= count; }, "the receiver's end")) {
            return;
        }
        reply("done " + std::to_string(receiverDone.last()) + "|"
            + utf8(text(newPage->findChild<QWidget*>("page_3"), "currentWork")));
    }

    void transferAgain()
    {
        auto* again = window.findChild<QPushButton*>("transferAgainBtn");
        QTest::mouseClick(again, Qt::LeftButton);
        auto* stack = oldPage->findChild<QStackedWidget*>("stackedWidget");
        if (!waitFor([&] { return stack->currentIndex() == 2; }, "the selection page again")) {
            return;
        }
        reply("selecting " + utf8(text(oldPage, "selectedFile")));
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
    if (::unshare(CLONE_NEWNET) != 0) {
        reply(std::string("error unshare: ") + std::strerror(errno));
        return 3;
    }
    reply("ready");

    LineReader input(STDIN_FILENO);
    std::string line;
    while (!input.next(line)) {
        if (!input.fill()) {
            return 4;
        }
    }
    // "go <address/prefix> <device>"
    char address[64] = {}, device[32] = {};
    if (std::sscanf(line.c_str(), "go %63s %31s", address, device) != 2) {
        reply("error bad go line");
        return 5;
    }
    const bool up = run({"ip", "link", "set", "lo", "up"}) && run({"ip", "addr", "add", address, "dev", device})
        && run({"ip", "link", "set", device, "up"}) && run({"ip", "route", "add", "default", "dev", device});
    if (!up) {
        reply("error network set-up failed");
        return 6;
    }

    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    Driver driver(role);
    reply("up");

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
    // Commands that arrived with the go line.
    QTimer::singleShot(0, [&] {
        std::string command;
        while (input.next(command)) {
            driver.handle(command);
        }
    });
    return app.exec();
}
