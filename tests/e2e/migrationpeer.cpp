// One computer of the whole-migration tests: the real wizard, driven by commands on standard input.
//
// The process first moves into a network namespace of its own (or joins the one named by its second
// argument, where an earlier copy ran) and waits for "go <address> <device>" ("go keep" when joined), after
// the test has moved one end of a veth pair into it; it then runs MainWindow on the offscreen platform.
// Every command is answered by one line "@@E2E@@ ..." on standard output (the program's own diagnostics go
// there too).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>

#include "app/mainwindow.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"
#include "connect/oldpcview.h"
#include "connect/pcitem.h"
#include "net/announcer.h"
#include "wizarddriver.h"

namespace {

const std::string Marker = "@@E2E@@";
constexpr int StepTimeoutMs = 120000;

class MigrationCommands
{
public:
    explicit MigrationCommands(const std::string& role) : driver(role, Marker, StepTimeoutMs) { }

    void handle(const std::string& line)
    {
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (command == "role") {
            if (driver.chooseRole()) {
                driver.reply("ok");
            }
        } else if (command == "cards") {
            if (driver.waitForCards(std::atoi(arg.c_str()))) {
                driver.reply(utf8(("cards " + driver.cards().join(' ')).trimmed()));
            }
        } else if (command == "cardtexts") {
            replyCardTexts();
        } else if (command == "clickat") {
            clickAt(QString::fromStdString(arg));
        } else if (command == "stallwatch") {
            startStallWatch();
            driver.reply("watching");
        } else if (command == "stalls") {
            driver.reply("stalls " + std::to_string(longestGapMs) + " " + gaps);
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
                driver.reply("selecting " + utf8(WizardDriver::label(driver.senderPage(), "totalSpaceL")));
            }
        } else if (command == "typepart") {
            driver.typeDigits(arg);
            driver.reply("typed");
        } else if (command == "select") {
            // Row names separated by "|"; "用户数据" and "系统设置" when none are given.
            const QStringList rows
                = arg.empty() ? QStringList {"用户数据", "系统设置"} : QString::fromStdString(arg).split('|');
            if (driver.checkRows(rows) && driver.waitSelectionShown()) {
                driver.reply("selected " + utf8(WizardDriver::label(driver.senderPage(), "selectedFile")) + "|"
                    + utf8(WizardDriver::label(driver.senderPage(), "spaceTaken")));
            }
        } else if (command == "start") {
            startTransfer(arg);
        } else if (command == "begin") {
            endsBefore = driver.senderEnds().size();
            if (driver.beginTransfer(&confirmText)) {
                driver.reply("sending");
            }
        } else if (command == "report") {
            if (driver.waitReport(endsBefore)) {
                replyReport();
            }
        } else if (command == "waitdone") {
            if (driver.waitReceiverEnd(std::atoi(arg.c_str()))) {
                driver.reply("done " + std::to_string(driver.receiverEnds().last()) + "|"
                    + utf8(WizardDriver::label(driver.receiverPage()->findChild<QWidget*>("page_3"), "currentWork")));
            }
        } else if (command == "dismiss") {
            QString text;
            if (driver.dismissMessage(text)) {
                driver.reply("dismissed " + utf8(text));
            }
        } else if (command == "home") {
            if (driver.goHome()) {
                driver.reply("home");
            }
        } else if (command == "pages") {
            replyPages();
        } else if (command == "channel") {
            // "channel <pairing page>|<transfer page>|<report page>" of this computer's role.
            const bool receiving = driver.receiverPage()->isVisible();
            QWidget* role = receiving ? static_cast<QWidget*>(driver.receiverPage()) : driver.senderPage();
            const char* transfer = receiving ? "page_3" : "page_4";
            const char* report = receiving ? "page_4" : "page_5";
            driver.reply("channel " + utf8(WizardDriver::label(role->findChild<QWidget*>("page_2"), "channel")) + "|"
                + utf8(WizardDriver::label(role->findChild<QWidget*>(transfer), "channel")) + "|"
                + utf8(WizardDriver::label(role->findChild<QWidget*>(report), "channelL")));
        } else if (command == "again") {
            if (driver.transferAgain()) {
                driver.reply("selecting " + utf8(WizardDriver::label(driver.senderPage(), "selectedFile")));
            }
        } else if (command == "againcode") {
            // "继续传输" towards a receiver that no longer knows this sender: the code is asked for again.
            if (driver.transferAgainToPairing()) {
                driver.reply("pairing");
            }
        } else if (command == "figures") {
            // "figures <files>|<bytes>|<speed>" of this computer's transfer page.
            QWidget* page = driver.receiverPage()->isVisible() ? driver.receiverPage()->findChild<QWidget*>("page_3")
                                                               : driver.senderPage()->findChild<QWidget*>("page_4");
            driver.reply("figures " + utf8(WizardDriver::label(page, "filesL")) + "|"
                + utf8(WizardDriver::label(page, "bytesL")) + "|" + utf8(WizardDriver::label(page, "speedL")));
        } else if (command == "armshot") {
            // "armshot <path>": a picture of this computer's transfer page once it passes 30 %, taken while
            // other commands go on.
            armShot(arg);
            driver.reply("armed");
        } else if (command == "shot") {
            driver.reply(driver.saveShot(QString::fromStdString(arg)) ? "shot" : "error cannot save " + arg);
        } else if (command == "withhold") {
            // A receiver that leaves abilities out of its announcement, as one built from the protocol alone.
            withholdCapabilities(static_cast<uint32_t>(std::strtoul(arg.c_str(), nullptr, 0)));
            driver.reply("withheld");
        } else if (command == "shows") {
            // "shows yes" when a visible label of the window holds the text.
            driver.reply(showsText(QString::fromStdString(arg)) ? "shows yes" : "shows no");
        } else if (command == "quit") {
            driver.reply("bye");
            QCoreApplication::quit();
        } else {
            driver.reply("error unknown command " + command);
        }
    }

private:
    void armShot(const std::string& shotPath)
    {
        QWidget* page = driver.receiverPage()->isVisible() ? driver.receiverPage()->findChild<QWidget*>("page_3")
                                                           : driver.senderPage()->findChild<QWidget*>("page_4");
        auto* progress = page->findChild<QProgressBar*>("progressBar");
        auto armed = std::make_shared<QMetaObject::Connection>();
        *armed = QObject::connect(progress, &QProgressBar::valueChanged, progress, [this, shotPath, armed](int value) {
            if (value >= 30) {
                QObject::disconnect(*armed);
                driver.saveShot(QString::fromStdString(shotPath));
            }
        });
    }

    void startTransfer(const std::string& shotPath)
    {
        endsBefore = driver.senderEnds().size();
        auto* progress = driver.senderPage()->findChild<QProgressBar*>("progressBar");
        QMetaObject::Connection shot;
        if (!shotPath.empty()) {
            shot = QObject::connect(progress, &QProgressBar::valueChanged, [this, shotPath, &shot](int value) {
                if (value >= 30) {
                    driver.saveShot(QString::fromStdString(shotPath));
                    QObject::disconnect(shot);
                }
            });
        }
        auto* again = driver.window().findChild<QPushButton*>("transferAgainBtn");
        const bool ended = driver.beginTransfer(&confirmText) && driver.waitReport(endsBefore)
            && driver.waitFor([&] { return again->isVisible(); }, "the end bar");
        QObject::disconnect(shot);
        if (ended) {
            replyReport();
        }
    }

    // "report <Done code>|<files>|<sent>|<failed>|<completion>|<confirmation box>|<average speed>|<skipped>|
    // <the transfer page's skipped line>"
    void replyReport()
    {
        QWidget* report = driver.senderPage()->findChild<QWidget*>("page_5");
        QWidget* transfer = driver.senderPage()->findChild<QWidget*>("page_4");
        auto* skippedLine = transfer->findChild<QLabel*>("skippedL");
        driver.reply("report " + std::to_string(driver.senderEnds().last()) + "|"
            + utf8(WizardDriver::label(report, "fileCountL")) + "|" + utf8(WizardDriver::label(report, "sentCount"))
            + "|" + utf8(WizardDriver::label(report, "failedCount")) + "|"
            + utf8(WizardDriver::label(report, "transPercentageL")) + "|" + utf8(confirmText.simplified()) + "|"
            + utf8(WizardDriver::label(report, "averageSpeedL")) + "|"
            + utf8(WizardDriver::label(report, "skippedCount")) + "|"
            + (skippedLine && !skippedLine->isHidden() ? utf8(skippedLine->text()) : std::string()));
    }

    // "pages <receiver view>|<sender stack>|<receiver's current file text>|<sender's current file text>"
    void replyPages()
    {
        driver.reply("pages " + std::to_string(driver.receiverView()) + "|" + std::to_string(driver.senderStack()) + "|"
            + utf8(WizardDriver::label(driver.receiverPage()->findChild<QWidget*>("page_3"), "currentFile")) + "|"
            + utf8(WizardDriver::label(driver.senderPage()->findChild<QWidget*>("page_4"), "currentFile")));
    }

    // "cardtexts <plain|markup>|<each card's host name>|...": markup when any card label may render its
    // text as rich text or a tooltip carries the peer's text unescaped.
    void replyCardTexts()
    {
        bool markup = false;
        std::string names;
        for (PCItem* card : driver.senderPage()->GetOldPCView()->findChildren<PCItem*>()) {
            for (QLabel* label : card->findChildren<QLabel*>()) {
                if (label->textFormat() != Qt::PlainText && Qt::mightBeRichText(label->text())) {
                    markup = true;
                }
            }
            const QString tip = card->toolTip();
            if (!tip.isEmpty() && tip.contains(QStringLiteral("<img")) && !tip.contains(QStringLiteral("&lt;"))) {
                markup = true;
            }
            names += "|" + utf8(WizardDriver::label(card, "hostname_label"));
        }
        driver.reply(std::string("cardtexts ") + (markup ? "markup" : "plain") + names);
    }

    // Clicks the card of one address; "pairing" when the pairing page shows, "failed <box text>" when the
    // sender could not connect (its box is pressed).
    void clickAt(const QString& address)
    {
        PCItem* target = nullptr;
        for (PCItem* card : driver.senderPage()->GetOldPCView()->findChildren<PCItem*>()) {
            if (WizardDriver::label(card, "ipLabel") == address) {
                target = card;
            }
        }
        if (!target) {
            driver.reply("error no card for " + utf8(address));
            return;
        }
        const int failuresBefore = driver.senderEnds().size();
        QTest::mouseClick(target, Qt::LeftButton);
        // A failure box runs its own loop inside this wait: it is pressed from the check itself.
        QString boxText;
        bool pressed = false;
        const bool ended = driver.waitFor(
            [&] {
                if (!pressed) {
                    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                        boxText = box->text();
                        pressed = true;
                        box->buttons().first()->click();
                    }
                }
                return driver.senderStack() == 1 || (pressed && driver.senderEnds().size() > failuresBefore);
            },
            "the pairing page or a failure");
        if (ended) {
            driver.reply(pressed ? "failed " + utf8(boxText) : std::string("pairing"));
        }
    }

    bool showsText(const QString& text)
    {
        for (QLabel* label : driver.window().findChildren<QLabel*>()) {
            if (label->isVisible() && label->text().contains(text)) {
                return true;
            }
        }
        return false;
    }

    // The longest time between two ticks of a 5 ms timer on the GUI thread, from now on.
    void startStallWatch()
    {
        longestGapMs = 0;
        gaps.clear();
        sinceStart.start();
        sinceTick.start();
        if (!stallTimer.isActive()) {
            QObject::connect(&stallTimer, &QTimer::timeout, [this] {
                const qint64 gap = sinceTick.restart();
                if (gap > 50) {
                    gaps += std::to_string(gap) + "@" + std::to_string(sinceStart.elapsed()) + " ";
                }
                longestGapMs = std::max<qint64>(longestGapMs, gap);
            });
            stallTimer.start(5);
        }
    }

    WizardDriver driver;
    QTimer stallTimer;
    QElapsedTimer sinceTick;
    QElapsedTimer sinceStart;
    std::string gaps;
    qint64 longestGapMs = 0;
    QString confirmText;
    int endsBefore = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const std::string role = argc > 1 ? argv[1] : "";
    if (role != "receiver" && role != "sender") {
        std::fprintf(stderr, "usage: %s receiver|sender [network namespace to join]\n", argv[0]);
        return 2;
    }
    LineReader input(STDIN_FILENO);
    if (const int status = enterPeerNetwork(Marker, input, argc > 2 ? argv[2] : nullptr)) {
        return status;
    }

    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    MigrationCommands commands(role);
    std::printf("%s up\n", Marker.c_str());
    std::fflush(stdout);
    return runCommands(app, input, [&](const std::string& line) { commands.handle(line); });
}
