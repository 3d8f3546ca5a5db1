#include <cstdlib>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "app/mainwindow.h"
#include "connectionflood.h"
#include "connect/newpcconnectpage.h"
#include "connect/pcpairpage.h"
#include "pagesignals.h"
#include "scriptedsender.h"
#include "testmain.h"

using namespace std::chrono;

// Who the receiver lets in after a pairing, and that strangers cannot keep the real sender out.
class TestReceiverTrust : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<NewPCConnectPage> page;

    void loadPage(const ReceiverLimits& limits = ReceiverLimits())
    {
        page = std::make_unique<NewPCConnectPage>(nullptr, limits);
        page->resize(640, 300);
        page->Load();
    }

    QStackedWidget* view() const { return page->findChild<QStackedWidget*>("view"); }
    std::string code() const { return page->findChild<PCPairPage*>("page_2")->code().toStdString(); }
    std::string wrongCode() const
    {
        std::string wrong = code();
        wrong[5] = wrong[5] == '9' ? '0' : static_cast<char>(wrong[5] + 1);
        return wrong;
    }
    QLabel* label(const char* name) const { return page->findChild<QLabel*>(name); }

    void pairAndReadSpace(ScriptedSender& sender, const char* source = nullptr)
    {
        QVERIFY(sender.connectTo(source));
        QCOMPARE(sender.pair(code()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(sender.readFreeSpace(total, free));
    }

    void emptyMigration(ScriptedSender& sender)
    {
        QVERIFY(sender.sendTransferHeader(0, 0));
        QVERIFY(sender.finishWithoutApps());
        QVERIFY(sender.waitClosed());
    }

    // True when the free space comes at once, in plain, as for "继续传输".
    static bool resumes(ScriptedSender& sender)
    {
        uint64_t total = 0, free = 0;
        return sender.readFreeSpace(total, free, 500);
    }

    static int rawConnect()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(4399);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static int announcementsHeard(int timeoutMs)
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in any {};
        any.sin_family = AF_INET;
        any.sin_port = htons(43999);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0) {
            ::close(fd);
            return -1;
        }
        int heard = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents();
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char datagram[128];
                if (::recv(fd, datagram, sizeof(datagram), 0) == 66) {
                    ++heard;
                }
            }
        }
        ::close(fd);
        return heard;
    }

private slots:
    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        ::setenv("HOME", home->path().toUtf8().constData(), 1);
    }

    void cleanup()
    {
        page.reset();
        home.reset();
    }

    void samePeerResumesOnceAtATime()
    {
        loadPage();
        ScriptedSender first;
        pairAndReadSpace(first);
        emptyMigration(first);

        ScriptedSender again;
        QVERIFY(again.connectTo());
        QVERIFY(resumes(again));
        // A second connection from that address meanwhile is no second resume.
        ScriptedSender twice;
        QVERIFY(twice.connectTo());
        QCOMPARE(twice.recvPlain(16, 500), std::string());
        twice.close();
        emptyMigration(again);

        // The resume was used up; the next migration from there again needs the one that ended.
        ScriptedSender third;
        QVERIFY(third.connectTo());
        QVERIFY(resumes(third));
        emptyMigration(third);
    }

    void afterTheWindowTheCodeIsAsked()
    {
        ReceiverLimits limits;
        limits.resumeWindow = milliseconds(300);
        loadPage(limits);
        ScriptedSender first;
        pairAndReadSpace(first);
        emptyMigration(first);
        QTest::qWait(500);

        ScriptedSender late;
        QVERIFY(late.connectTo());
        QVERIFY(!resumes(late));
        QTRY_COMPARE(view()->currentIndex(), 1);
        QCOMPARE(late.pair(code()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(late.readFreeSpace(total, free));
        emptyMigration(late);
    }

    // Another host within the window is asked for the code, and the code page shows; but unless it pairs,
    // the sender whose migration ended may still come back without the code.
    void strangerWithinTheWindowLeavesItOpen_data()
    {
        QTest::addColumn<QString>("stranger");
        QTest::newRow("silent and staying") << "silent";
        QTest::newRow("wrong code") << "wrong";
        QTest::newRow("short code") << "short";
        QTest::newRow("gone before the sender is back") << "gone";
    }

    void strangerWithinTheWindowLeavesItOpen()
    {
        QFETCH(QString, stranger);
        loadPage();
        ScriptedSender first;
        pairAndReadSpace(first);
        emptyMigration(first);
        QTRY_VERIFY(view()->currentIndex() != 1);
        const int endPage = view()->currentIndex();

        ScriptedSender other;
        QVERIFY(other.connectTo("127.0.0.2"));
        QVERIFY(!resumes(other));
        QTRY_COMPARE(view()->currentIndex(), 1);
        if (stranger == "wrong") {
            QCOMPARE(other.pair(wrongCode()), std::string("S1"));
        } else if (stranger == "short") {
            QVERIFY(other.sendPlain(code().substr(0, 3)));
            QCOMPARE(other.recvPlain(2, 400), std::string());
        } else if (stranger == "gone") {
            other.close();
            // Once it has gone the receiver shows the end again.
            QTRY_COMPARE(view()->currentIndex(), endPage);
        }

        ScriptedSender back;
        QVERIFY(back.connectTo());
        QVERIFY(resumes(back));
        QTRY_COMPARE(view()->currentIndex(), 2);
        emptyMigration(back);
        if (other.isOpen()) {
            // Still not let in, and its code is no longer compared while the migration ran.
            QCOMPARE(other.recvPlain(16, 200), std::string());
        }
    }

    // A sender that pairs with the code takes the place of the last one: the window is its own from then on.
    void pairingWithinTheWindowTakesItOver()
    {
        loadPage();
        ScriptedSender first;
        pairAndReadSpace(first);
        emptyMigration(first);

        ScriptedSender next;
        pairAndReadSpace(next, "127.0.0.2");
        emptyMigration(next);

        ScriptedSender old;
        QVERIFY(old.connectTo());
        QVERIFY(!resumes(old));
        old.close();
        ScriptedSender again;
        QVERIFY(again.connectTo("127.0.0.2"));
        QVERIFY(resumes(again));
        emptyMigration(again);
    }

    void brokenMigrationMayResume()
    {
        loadPage();
        PageSignals seen(page.get());
        ScriptedSender first;
        pairAndReadSpace(first);
        first.close();
        QTRY_COMPARE(seen.done.size(), 1);
        QCOMPARE(seen.done.at(0), 1);
        ScriptedSender again;
        QVERIFY(again.connectTo());
        QVERIFY(resumes(again));
        emptyMigration(again);
    }

    void secondPairingDoesNotTakeOverARunningMigration()
    {
        loadPage();
        PageSignals seen(page.get());
        ScriptedSender sender;
        pairAndReadSpace(sender);
        const std::string a(3000, 'a');
        const std::string b(5000, 'b');
        QVERIFY(sender.sendTransferHeader(2, a.size() + b.size()));
        const std::string base = home->path().toStdString();
        QCOMPARE(sender.sendFile("/home/alice/one.txt", 11, a), 0);

        ScriptedSender intruder;
        QVERIFY(intruder.connectTo("127.0.0.2"));
        QVERIFY(intruder.sendPlain(code()));
        QCOMPARE(intruder.recvPlain(2, 1000), std::string());
        QVERIFY(intruder.waitClosed(2000));

        QCOMPARE(sender.sendFile("/home/alice/two.txt", 11, b), 0);
        QVERIFY(sender.finishWithoutApps());
        QVERIFY(sender.waitClosed());
        QFile one(QString::fromStdString(base + "/one.txt"));
        QFile two(QString::fromStdString(base + "/two.txt"));
        QVERIFY(one.open(QIODevice::ReadOnly));
        QVERIFY(two.open(QIODevice::ReadOnly));
        QCOMPARE(one.readAll().toStdString(), a);
        QCOMPARE(two.readAll().toStdString(), b);
        QTRY_COMPARE(seen.done.size(), 1);
        QCOMPARE(seen.done.at(0), 0);
    }

    void oneByteConnectionsGiveWay()
    {
        loadPage();
        std::vector<int> holders;
        for (int i = 0; i < 32; ++i) {
            const int fd = rawConnect();
            QVERIFY(fd >= 0);
            QCOMPARE(::send(fd, "1", 1, MSG_NOSIGNAL), ssize_t(1));
            holders.push_back(fd);
        }
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        ScriptedSender sender;
        pairAndReadSpace(sender);
        QVERIFY2(clock.elapsed() < 7000, qPrintable(QString("paired after %1 ms").arg(clock.elapsed())));
        emptyMigration(sender);
        for (const int fd : holders) {
            ::close(fd);
        }
    }

    void silentConnectionsGiveWay()
    {
        loadPage();
        std::vector<int> holders;
        for (int i = 0; i < 40; ++i) {
            const int fd = rawConnect();
            QVERIFY(fd >= 0);
            holders.push_back(fd);
        }
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        ScriptedSender sender;
        pairAndReadSpace(sender);
        QVERIFY2(clock.elapsed() < 7000, qPrintable(QString("paired after %1 ms").arg(clock.elapsed())));
        for (const int fd : holders) {
            ::close(fd);
        }
    }

    // A sender whose user is still typing the code keeps its place while another host keeps refilling every
    // other place; a further sender still gets in and is answered.
    void slowTyperKeepsItsPlaceInAFlood_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("silent") << int(ConnectionFlood::Kind::Silent);
        QTest::newRow("one byte") << int(ConnectionFlood::Kind::OneByte);
        QTest::newRow("wrong codes") << int(ConnectionFlood::Kind::WrongCodes);
    }

    void slowTyperKeepsItsPlaceInAFlood()
    {
        QFETCH(int, kind);
        ReceiverLimits limits;
        limits.giveWayAfter = milliseconds(300);
        loadPage(limits);
        ScriptedSender typer;
        QVERIFY(typer.connectTo("127.0.0.2"));
        QTRY_COMPARE(view()->currentIndex(), 1);

        ConnectionFlood flood("127.0.0.1", "127.0.0.3", 31, static_cast<ConnectionFlood::Kind>(kind), wrongCode());
        flood.start();
        // Once every place is taken the receiver makes room; without care the typer, idle longest, is what
        // gives way.
        bool typerSentAway = false;
        QTRY_VERIFY_WITH_TIMEOUT(flood.closedByReceiver() > 0 || (typerSentAway = typer.waitClosed(1)), 20000);
        QVERIFY2(!typerSentAway, "the typer gave its place to the flood");
        // Ten times the idle limit.
        QVERIFY2(!typer.waitClosed(3000), "the typer gave its place to the flood");

        ScriptedSender newcomer;
        QVERIFY(newcomer.connectTo("127.0.0.4"));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(newcomer.pair(wrongCode()), std::string("S1"));
        QVERIFY2(clock.elapsed() < 7000, qPrintable(QString("answered after %1 ms").arg(clock.elapsed())));

        clock.restart();
        QCOMPARE(typer.pair(code()), std::string("S0"));
        QVERIFY2(clock.elapsed() < 7000, qPrintable(QString("paired after %1 ms").arg(clock.elapsed())));
        uint64_t total = 0, free = 0;
        QVERIFY(typer.readFreeSpace(total, free));
        flood.stop();
        emptyMigration(typer);
    }

    void probesChangeNothing()
    {
        loadPage();
        PageSignals seen(page.get());
        for (int i = 0; i < 1000; ++i) {
            const int fd = rawConnect();
            QVERIFY(fd >= 0);
            ::close(fd);
            if (i % 50 == 0) {
                QCoreApplication::processEvents();
            }
        }
        QTest::qWait(500);
        QVERIFY(seen.done.isEmpty());
        QCOMPARE(view()->currentIndex(), 0);
        QVERIFY(page->isAnnouncing());
        QVERIFY(announcementsHeard(3500) >= 1);
    }

    void leavingWithoutAWordRestoresTheWaitingPage()
    {
        loadPage();
        PageSignals seen(page.get());
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QTRY_COMPARE(view()->currentIndex(), 1);
        QVERIFY(!page->isAnnouncing());
        sender.close();
        QTRY_COMPARE(view()->currentIndex(), 0);
        QVERIFY(page->isAnnouncing());
        QTest::qWait(100);
        QVERIFY(seen.done.isEmpty());
    }

    void atMostOneFailureBox()
    {
        MainWindow window;
        int open = -1;
        QTimer::singleShot(0, &window, [&window] { window.done(1); });
        QTimer::singleShot(300, &window, [&open] {
            open = 0;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    ++open;
                }
            }
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    box->done(0);
                }
            }
        });
        window.done(1);
        QCOMPARE(open, 1);
    }

    void wrongCodesAreCountedThenTheCodeChanges()
    {
        ReceiverLimits limits;
        limits.pairingBurst = 100000; // no pace: the counts are what is tested here
        loadPage(limits);
        QLabel* note = label("pairingNote");
        QVERIFY(note);
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        for (int i = 0; i < 19; ++i) {
            QCOMPARE(sender.pair(wrongCode()), std::string("S1"));
        }
        QTRY_COMPARE(view()->currentIndex(), 1);
        QTest::qWait(100);
        QVERIFY(note->isHidden());
        QCOMPARE(sender.pair(wrongCode()), std::string("S1"));
        QTRY_VERIFY(!note->isHidden());
        QCOMPARE(note->text(), QString("已有 20 次错误的配对码尝试"));

        const std::string before = code();
        for (int i = 20; i < 200; ++i) {
            QCOMPARE(sender.pair(wrongCode()), std::string("S1"));
        }
        QTRY_VERIFY(code() != before);
        QCOMPARE(code().size(), std::size_t(6));
        QTRY_VERIFY(note->isHidden());
        QCOMPARE(sender.pair(before), std::string("S1"));
        QCOMPARE(sender.pair(code()), std::string("S0"));
    }

    void takenPortIsToldAndNotAnnounced()
    {
        const int squatter = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Earlier tests' connections may linger in TIME_WAIT; a listening squatter still takes the port.
        const int on = 1;
        ::setsockopt(squatter, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in any {};
        any.sin_family = AF_INET;
        any.sin_port = htons(4399);
        QCOMPARE(::bind(squatter, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);
        QCOMPARE(::listen(squatter, 5), 0);

        loadPage();
        QVERIFY(!page->isListening());
        QVERIFY(!page->isAnnouncing());
        QLabel* error = label("listenError");
        QVERIFY(error);
        QVERIFY(!error->isHidden());
        QCOMPARE(error->text(), QString("无法在端口 4399 上等待连接：该端口已被其他程序占用"));
        QCOMPARE(announcementsHeard(3500), 0);
        ::close(squatter);

        // Once the port is free again, loading listens and announces as always.
        page->Unload();
        page->Load();
        QVERIFY(page->isListening());
        QVERIFY(page->isAnnouncing());
        QVERIFY(error->isHidden());
    }
};

MOVANTA_TEST_MAIN(TestReceiverTrust)
#include "tst_receivertrust.moc"
