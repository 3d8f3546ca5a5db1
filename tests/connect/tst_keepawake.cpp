#include "testmain.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <thread>

#include <arpa/inet.h>

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>

#include "app/mainwindow.h"
#include "app/migrationwatch.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"
#include "connect/oldpcview.h"
#include "connect/pcitem.h"
#include "connect/pcpairpage.h"
#include "fakebus.h"
#include "net/fileheader.h"
#include "net/freespacemessage.h"
#include "net/transferheader.h"
#include "scriptedsender.h"
#include "select/selectdataview.h"
#include "sender/tst_senderengine_receiver.h"
#include "tests/app/quiettools.h"

namespace {

const std::vector<char> Code {'2', '7', '1', '8', '2', '8'};

// Clicks the button of every message box that opens ("连接断开!"), as a user would.
void answerMessageBoxes(QObject* owner)
{
    auto* poll = new QTimer(owner);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, owner, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                box->buttons().value(0)->click();
            }
        }
    });
    poll->start();
}

std::string freeSpaceBytes()
{
    FreeSpaceMessage m;
    m.total = uint64_t(100) << 30;
    m.free = uint64_t(50) << 30;
    char bytes[FreeSpaceMessage::Size];
    m.encode(bytes);
    return std::string(bytes, sizeof(bytes));
}

} // namespace

// A real wizard window on either side of a migration, with the login manager and the desktop's
// notifications played by fakes on the test's own bus: the computer is kept awake exactly while the
// migration runs, and a user who went away hears of the end of a long one.
class TestKeepAwake : public QObject
{
    Q_OBJECT

    QuietPackageTools tools;
    PrivateBus bus;
    std::unique_ptr<FakeServices> services;
    QTemporaryDir home;
    QString previousDir;

    // The notifiers' clock: real time plus what the test adds to make a run long.
    std::chrono::steady_clock::duration added {};

    FakeLogin& login() { return services->login(); }
    FakeNotifications& notifications() { return services->notifications(); }

    // A window of the test's, with the notifier timed by the test's clock.
    std::unique_ptr<MainWindow> makeWindow()
    {
        auto w = std::make_unique<MainWindow>();
        added = {};
        w->findChild<MigrationWatch*>()->finishNotifier().setClock(
            [this] { return std::chrono::steady_clock::now() + added; });
        answerMessageBoxes(w.get());
        return w;
    }

    // The user is at another program, or looks at this one.
    void setBackground(MainWindow& w, bool background)
    {
        if (background) {
            QApplication::setActiveWindow(nullptr);
            QTRY_VERIFY(QApplication::activeWindow() == nullptr);
        } else {
            w.activateWindow();
            QTRY_VERIFY(w.isActiveWindow());
        }
    }

    void checkNotice(int before, const QString& summary, const QString& body)
    {
        if (summary.isEmpty()) {
            QTest::qWait(200);
            QCOMPARE(notifications().callCount(), before);
            return;
        }
        QTRY_COMPARE(notifications().callCount(), before + 1);
        const FakeNotifications::Call call = notifications().calls().back();
        QCOMPARE(call.app, QStringLiteral("Movanta"));
        QCOMPARE(call.summary, summary);
        QCOMPARE(call.body, body);
    }

    QStackedWidget* content(MainWindow& w) { return w.findChild<QStackedWidget*>("content"); }

    void openRole(MainWindow& w, short role)
    {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.pcTypeChanged(role);
        QTest::mouseClick(w.findChild<QPushButton*>("nextBtn"), Qt::LeftButton);
        QTRY_COMPARE(content(w)->currentIndex(), role + 1);
    }

    void checkCall(int index)
    {
        QVERIFY(index < login().callCount());
        const FakeLogin::Call call = login().calls()[std::size_t(index)];
        QCOMPARE(call.what, QStringLiteral("sleep:idle"));
        QCOMPARE(call.who, QStringLiteral("Movanta"));
        QVERIFY2(call.why.contains(QStringLiteral("迁移")), qPrintable(call.why));
        QCOMPARE(call.mode, QStringLiteral("block"));
    }

private slots:
    void initTestCase()
    {
        if (!bus.start()) {
            QSKIP(qPrintable(bus.why()));
        }
        // One bus of the test's stands in for both the system's and the desktop's.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
        services = std::make_unique<FakeServices>(bus.address(), FakeServices::Login | FakeServices::Notifications);
        QVERIFY(services->ready());
        QVERIFY(home.isValid());
        qputenv("HOME", home.path().toLocal8Bit());
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(home.path()));
    }

    void cleanupTestCase() { QDir::setCurrent(previousDir); }

    void receiverIsKeptAwakeWhileMigrating_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("longRun");
        QTest::addColumn<bool>("background");
        QTest::addColumn<QString>("summary"); // of the notification; empty for none
        QTest::addColumn<QString>("body");
        const QString done = QStringLiteral("迁移完成");
        const QString broken = QStringLiteral("迁移中断");
        const QString doneBody = QStringLiteral("迁移完成，请在旧电脑上查看报告");
        const QString brokenBody = QStringLiteral("连接断开，迁移没有完成");
        QTest::newRow("long migration finishes while away") << "finished" << true << true << done << doneBody;
        QTest::newRow("long migration finishes in view") << "finished" << true << false << QString() << QString();
        QTest::newRow("short migration finishes while away") << "finished" << false << true << QString() << QString();
        QTest::newRow("the sender goes away while away") << "broken" << true << true << broken << brokenBody;
        QTest::newRow("the sender goes away in view") << "broken" << true << false << QString() << QString();
        QTest::newRow("the page is left") << "left" << true << true << QString() << QString();
        QTest::newRow("the window goes") << "closed" << true << true << QString() << QString();
    }
    void receiverIsKeptAwakeWhileMigrating()
    {
        QFETCH(QString, ending);
        QFETCH(bool, longRun);
        QFETCH(bool, background);
        QFETCH(QString, summary);
        QFETCH(QString, body);
        const int first = login().callCount();
        const int notices = notifications().callCount();
        auto w = makeWindow();
        openRole(*w, 0);
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        auto* page = w->findChild<NewPCConnectPage*>()->findChild<PCPairPage*>("page_2");
        QTRY_VERIFY(page->isVisible());
        // Waiting and showing the code is no migration yet.
        QTest::qWait(100);
        QCOMPARE(login().callCount(), first);

        QCOMPARE(sender.pair(page->code().toStdString()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(sender.readFreeSpace(total, free));
        // From here the receiver waits for the sender's selection and then the files.
        QTRY_COMPARE(login().callCount(), first + 1);
        checkCall(first);
        // Two files announced: a sender that goes away after the first leaves the migration unfinished.
        QVERIFY(sender.sendTransferHeader(2, 6000));
        QCOMPARE(sender.sendFile("/home/alice/文档/a.txt", 11, std::string(3000, 'a')), 0);
        QVERIFY(!login().released(first));
        if (longRun) {
            added = std::chrono::minutes(2);
        }
        setBackground(*w, background);

        if (ending == "finished") {
            QCOMPARE(sender.sendFile("/home/alice/文档/b.txt", 11, std::string(3000, 'b')), 0);
            QVERIFY(sender.finishWithoutApps());
            QTRY_VERIFY(w->findChild<QPushButton*>("homeBtn")->isVisible());
        } else if (ending == "broken") {
            sender.close();
            QTRY_VERIFY(w->findChild<QPushButton*>("homeBtn")->isVisible());
        } else if (ending == "left") {
            content(*w)->setCurrentIndex(0);
        } else {
            w.reset();
        }
        QTRY_VERIFY(login().released(first));
        // One lock for the whole migration.
        QCOMPARE(login().callCount(), first + 1);
        checkNotice(notices, summary, body);
        sender.close();
    }

    void senderIsKeptAwakeWhileSending_data()
    {
        QTest::addColumn<bool>("receiverVanishes");
        QTest::addColumn<bool>("background");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("body");
        // A receiver that vanishes mid-run leaves a report with failed files, not a broken wizard.
        const QString done = QStringLiteral("迁移完成");
        const QString body = QStringLiteral("数据发送完毕，请查看迁移报告");
        QTest::newRow("the run finishes while away") << false << true << done << body;
        QTest::newRow("the run finishes in view") << false << false << QString() << QString();
        QTest::newRow("the receiver vanishes while away") << true << true << done << body;
    }
    void senderIsKeptAwakeWhileSending()
    {
        QFETCH(bool, receiverVanishes);
        QFETCH(bool, background);
        QFETCH(QString, summary);
        QFETCH(QString, body);
        const QString file = home.filePath("letter.txt");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(5000, 'l')) == 5000);
        f.close();

        const int first = login().callCount();
        const int notices = notifications().callCount();
        auto window = makeWindow();
        MainWindow& w = *window;
        openRole(w, 1);
        auto* page = w.findChild<OldPCConnectPage*>();
        auto* stack = page->findChild<QStackedWidget*>("stackedWidget");

        ScriptedReceiver receiver(4399);
        receiver.run([](ScriptedReceiver& r) {
            r.readRaw(6);
            r.writeRaw("S0");
            r.key = Code;
            r.writeUnit(freeSpaceBytes());
        });
        PCItemInfo info;
        info.name = "study";
        info.address.sin_family = AF_INET;
        info.address.sin_port = htons(43999);
        inet_pton(AF_INET, "127.0.0.1", &info.address.sin_addr);
        info.distro = "Debian GNU/Linux";
        info.type = 2;
        info.lastSeen = std::time(nullptr);
        {
            std::lock_guard<std::mutex> lock(mutex);
            page->hosts[info.address.sin_addr.s_addr] = info;
            page->hostsChanged = true;
        }
        QTRY_COMPARE(page->GetOldPCView()->findChildren<PCItem*>().size(), 1);
        QTest::mouseClick(page->GetOldPCView()->findChildren<PCItem*>().first(), Qt::LeftButton);
        QTRY_COMPARE(stack->currentIndex(), 1);
        QTest::keyClicks(page->findChild<PCPairPage*>("page_2"), "271828");
        QTRY_COMPARE(stack->currentIndex(), 2);
        receiver.finish();
        // Choosing what to send is no migration yet: the user is at the keyboard.
        QTest::qWait(100);
        QCOMPARE(login().callCount(), first);

        std::atomic<bool> answer {false};
        receiver.then([&answer, receiverVanishes](ScriptedReceiver& r) {
            TransferHeader::decode(r.readUnit(TransferHeader::Size).data());
            const FileHeader fh = FileHeader::decode(r.readUnit(FileHeader::Size).data());
            r.readRaw(fh.size);
            // The run waits for this file's result while the test looks at the lock.
            while (!answer) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (receiverVanishes) {
                r.abort();
                return;
            }
            r.writeUnit(std::string(1, '\0'));
            r.readUnit(2);
            r.writeUnit("S0");
        });
        std::unordered_map<std::string, uint64_t> files {{file.toStdString(), 5000}};
        std::unordered_map<std::string, AppInfo> apps;
        emit page->findChild<SelectDataView*>("page_3")->Transfer(files, apps, 5000);
        QTRY_COMPARE(login().callCount(), first + 1);
        checkCall(first);
        QTest::qWait(100);
        QVERIFY(!login().released(first));
        added = std::chrono::minutes(3);
        setBackground(w, background);

        answer = true;
        QTRY_VERIFY(w.findChild<QPushButton*>("homeBtn")->isVisible());
        QTRY_VERIFY(login().released(first));
        QCOMPARE(login().callCount(), first + 1);
        checkNotice(notices, summary, body);
        receiver.finish();
    }
};

MOVANTA_TEST_MAIN(TestKeepAwake)
#include "tst_keepawake.moc"
