#include "wizarddriver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
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

constexpr int SelectionPageIndex = 2;
constexpr int TransferPageIndex = 3;
constexpr int ReportPageIndex = 4;

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

// Gives this namespace the address on the device and routes everything through it.
bool configureLink(const std::string& address, const std::string& device)
{
    return run({"ip", "link", "set", "lo", "up"}) && run({"ip", "addr", "add", address, "dev", device})
        && run({"ip", "link", "set", device, "up"}) && run({"ip", "route", "replace", "default", "dev", device});
}

std::FILE* replyStream = nullptr;

void replyWith(const std::string& marker, const std::string& text)
{
    std::FILE* out = replyStream ? replyStream : stdout;
    std::fprintf(out, "%s %s\n", marker.c_str(), text.c_str());
    std::fflush(out);
}

} // namespace

std::string utf8(const QString& s)
{
    return s.toUtf8().toStdString();
}

LineReader::LineReader(int descriptor) : fd(descriptor) { }

bool LineReader::fill()
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

bool LineReader::next(std::string& line)
{
    const std::size_t end = pending.find('\n');
    if (end == std::string::npos) {
        return false;
    }
    line = pending.substr(0, end);
    pending.erase(0, end + 1);
    return true;
}

int enterPeerNetwork(const std::string& marker, LineReader& input, const char* joinPath)
{
    if (joinPath && *joinPath) {
        const int ns = ::open(joinPath, O_RDONLY | O_CLOEXEC);
        if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) {
            replyWith(marker, std::string("error cannot join ") + joinPath + ": " + std::strerror(errno));
            return 3;
        }
        ::close(ns);
    } else if (::unshare(CLONE_NEWNET) != 0) {
        replyWith(marker, std::string("error unshare: ") + std::strerror(errno));
        return 3;
    }
    replyWith(marker, "ready");

    std::string line;
    while (!input.next(line)) {
        if (!input.fill()) {
            return 4;
        }
    }
    if (line == "go keep") {
        return 0;
    }
    char address[64] = {}, device[32] = {};
    if (std::sscanf(line.c_str(), "go %63s %31s", address, device) != 2) {
        replyWith(marker, "error bad go line");
        return 5;
    }
    if (!configureLink(address, device)) {
        replyWith(marker, "error network set-up failed");
        return 6;
    }
    return 0;
}

void setReplyStream(std::FILE* stream)
{
    replyStream = stream;
}

WizardDriver::WizardDriver(std::string roleName, std::string replyMarker, int stepTimeout)
    : role(std::move(roleName)), marker(std::move(replyMarker)), stepTimeoutMs(stepTimeout), mainWindow(new MainWindow)
{
    mainWindow->show();
    newPage = mainWindow->findChild<NewPCConnectPage*>();
    oldPage = mainWindow->findChild<OldPCConnectPage*>();
    QObject::connect(newPage, &NewPCConnectPage::Done, [this](int code) { receiverDone << code; });
    QObject::connect(oldPage, &OldPCConnectPage::Done, [this](int code) { senderDone << code; });
}

WizardDriver::~WizardDriver()
{
    delete mainWindow;
}

void WizardDriver::reply(const std::string& text) const
{
    replyWith(marker, text);
}

bool WizardDriver::waitFor(const std::function<bool()>& condition, const std::string& what, int timeoutMs)
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
    QTimer::singleShot(timeoutMs > 0 ? timeoutMs : stepTimeoutMs, &loop, &QEventLoop::quit);
    check.start(5);
    loop.exec();
    if (condition()) {
        return true;
    }
    reply("error timed out waiting for " + what);
    return false;
}

QString WizardDriver::label(QWidget* root, const char* name)
{
    auto* found = root ? root->findChild<QLabel*>(name) : nullptr;
    return found ? found->text() : QString();
}

bool WizardDriver::chooseRole()
{
    auto* chooser = mainWindow->findChild<QWidget*>("choosePC");
    auto* card = chooser->findChild<QWidget*>(role == "receiver" ? "pcwidget" : "oldpcwidget");
    QTest::mouseClick(chooser, Qt::LeftButton, {}, card->geometry().center());
    auto* next = mainWindow->findChild<QPushButton*>("nextBtn");
    if (!waitFor([&] { return next->isEnabled(); }, "the next button")) {
        return false;
    }
    QTest::mouseClick(next, Qt::LeftButton);
    auto* content = mainWindow->findChild<QStackedWidget*>("content");
    if (content->currentIndex() != (role == "receiver" ? 1 : 2)) {
        reply("error role page not shown");
        return false;
    }
    return true;
}

bool WizardDriver::waitForCards(int count)
{
    return waitFor([&] { return oldPage->GetOldPCView()->findChildren<PCItem*>().size() >= count; }, "cards");
}

QStringList WizardDriver::cards() const
{
    QStringList out;
    for (PCItem* card : oldPage->GetOldPCView()->findChildren<PCItem*>()) {
        out << label(card, "hostname_label") + "@" + label(card, "ipLabel");
    }
    return out;
}

bool WizardDriver::clickCard()
{
    const auto found = oldPage->GetOldPCView()->findChildren<PCItem*>();
    if (found.isEmpty()) {
        reply("error no card");
        return false;
    }
    QTest::mouseClick(found.first(), Qt::LeftButton);
    // Connecting runs while the window keeps answering; the pairing page follows the connection.
    return waitFor([&] { return senderStack() == 1; }, "the pairing page");
}

bool WizardDriver::receiverCode(std::string& code)
{
    if (!waitFor([&] { return receiverView() == 1; }, "the receiver's pairing page")) {
        return false;
    }
    auto* pair = newPage->findChild<PCPairPage*>();
    code.clear();
    for (const char* box : {"p1", "p2", "p3", "p4", "p5", "p6"}) {
        code += utf8(label(pair, box));
    }
    return true;
}

void WizardDriver::typeDigits(const std::string& digits)
{
    QTest::keyClicks(oldPage->findChild<PCPairPage*>("page_2"), QString::fromStdString(digits));
}

bool WizardDriver::typeCode(const std::string& code)
{
    typeDigits(code);
    return waitFor([&] { return senderStack() == SelectionPageIndex; }, "the selection page");
}

bool WizardDriver::checkRows(const QStringList& names)
{
    auto* list = oldPage->findChild<QListWidget*>("confList");
    auto* start = oldPage->findChild<QPushButton*>("pushButton");
    const auto row = [list](const QString& name) -> ListItem* {
        for (int i = 0; i < list->count(); ++i) {
            auto* item = qobject_cast<ListItem*>(list->itemWidget(list->item(i)));
            if (item && item->text() == name) {
                return item;
            }
        }
        return nullptr;
    };
    for (const QString& name : names) {
        ListItem* item = row(name);
        if (!item) {
            reply("error no row " + utf8(name));
            return false;
        }
        if (!waitFor([&] { return list->isEnabled() && start->isEnabled(); }, "the selection lists")) {
            return false;
        }
        list->scrollToItem(list->item(0));
        QTest::mouseClick(item->findChild<QCheckBox*>("checkBox"), Qt::LeftButton);
        if (!item->isChecked()) {
            reply("error row not checked " + utf8(name));
            return false;
        }
    }
    // The scans have ended when the lists take input again.
    return waitFor([&] { return list->isEnabled() && start->isEnabled(); }, "the scans");
}

bool WizardDriver::waitSelectionShown()
{
    // The selection figures follow the scans after a short single-shot timer of the selection page.
    auto* view = oldPage->findChild<QWidget*>("page_3");
    return waitFor(
        [view] {
            for (QTimer* timer : view->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (timer->isSingleShot() && timer->isActive()) {
                    return false;
                }
            }
            return true;
        },
        "the selection figures");
}

bool WizardDriver::beginTransfer(QString* confirmText)
{
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            return;
        }
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == "开始传输") {
                if (confirmText) {
                    *confirmText = box->windowTitle() + ":" + box->text();
                }
                b->click();
                return;
            }
        }
        box->buttons().first()->click();
    });
    confirm.start(1);
    QTest::mouseClick(oldPage->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
    return waitFor([&] { return senderStack() >= TransferPageIndex; }, "the transfer page");
}

bool WizardDriver::waitReport(int endsBefore)
{
    return waitFor([&] { return senderDone.size() > endsBefore && senderStack() == ReportPageIndex; }, "the report");
}

bool WizardDriver::waitReceiverEnd(int count)
{
    return waitFor([&] { return receiverDone.size() >= count; }, "the receiver's end");
}

bool WizardDriver::transferAgain()
{
    QTest::mouseClick(mainWindow->findChild<QPushButton*>("transferAgainBtn"), Qt::LeftButton);
    return waitFor([&] { return senderStack() == SelectionPageIndex; }, "the selection page again");
}

bool WizardDriver::transferAgainToPairing()
{
    QTest::mouseClick(mainWindow->findChild<QPushButton*>("transferAgainBtn"), Qt::LeftButton);
    return waitFor([&] { return senderStack() == 1; }, "the pairing page");
}

bool WizardDriver::dismissMessage(QString& text)
{
    // Pressed from the check itself: a box that opens during this wait runs its own event loop inside this
    // one, and this wait can only end after that loop has.
    bool pressed = false;
    return waitFor(
        [&] {
            if (!pressed) {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    text = box->text();
                    pressed = true;
                    box->buttons().first()->click();
                }
            }
            return pressed;
        },
        "a message box");
}

bool WizardDriver::goHome()
{
    auto* home = mainWindow->findChild<QPushButton*>("homeBtn");
    if (!waitFor([&] { return home->isVisible(); }, "the home button")) {
        return false;
    }
    QTest::mouseClick(home, Qt::LeftButton);
    auto* content = mainWindow->findChild<QStackedWidget*>("content");
    return waitFor([&] { return content->currentIndex() == 0; }, "the role chooser");
}

int WizardDriver::receiverView() const
{
    return newPage->findChild<QStackedWidget*>("view")->currentIndex();
}

int WizardDriver::senderStack() const
{
    return oldPage->findChild<QStackedWidget*>("stackedWidget")->currentIndex();
}

bool WizardDriver::saveShot(const QString& path)
{
    return mainWindow->grab().save(path);
}

int runCommands(QApplication& app, LineReader& input, const std::function<void(const std::string&)>& handle)
{
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    // Off while a command runs: a command's own waits run the event loop, and the next command must not
    // start inside them.
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        notifier.setEnabled(false);
        if (!input.fill()) {
            QCoreApplication::quit();
            return;
        }
        std::string command;
        while (input.next(command)) {
            handle(command);
        }
        notifier.setEnabled(true);
    });
    QTimer::singleShot(0, [&] {
        notifier.setEnabled(false);
        std::string command;
        while (input.next(command)) {
            handle(command);
        }
        notifier.setEnabled(true);
    });
    return app.exec();
}
