#include <cstdlib>
#include <memory>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "connect/receiver/diskspace.h"
#include "connect/newpcconnectpage.h"
#include "connect/pcpairpage.h"
#include "migrationrig.h"
#include "pagesignals.h"
#include "scriptedsender.h"
#include "testmain.h"

// Pairing on a real receiver page, driven over loopback by a scripted sender.
class TestReceiverPairing : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> tools;
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<NewPCConnectPage> page;

    QStackedWidget* view() const { return page->findChild<QStackedWidget*>("view"); }
    std::string code() const { return page->findChild<PCPairPage*>("page_2")->code().toStdString(); }
    std::string wrongCode() const
    {
        std::string wrong = code();
        wrong[5] = wrong[5] == '9' ? '0' : static_cast<char>(wrong[5] + 1);
        return wrong;
    }
    QString transferText(const char* name) const
    {
        return page->findChild<QWidget*>("page_3")->findChild<QLabel*>(name)->text();
    }

    // A paired, keyed sender that has read the free space.
    void pairAndReadSpace(ScriptedSender& sender, const char* source = nullptr)
    {
        QVERIFY(sender.connectTo(source));
        QCOMPARE(sender.pair(code()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(sender.readFreeSpace(total, free));
        QVERIFY(free <= total);
    }

    // Header with no files, tag "S0", end mark, close.
    void emptyMigration(ScriptedSender& sender)
    {
        QVERIFY(sender.sendTransferHeader(0, 0));
        QVERIFY(sender.finishWithoutApps());
        QVERIFY(sender.waitClosed());
    }

    // Datagrams of 66 bytes heard on port 43999 within timeoutMs.
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
    void initTestCase()
    {
        // An application list reaches the installer: only logging stand-ins for the package tools may run.
        tools = std::make_unique<QTemporaryDir>();
        const std::string dir = tools->path().toStdString();
        QVERIFY(MigrationRig::writeFakeTools(dir, dir + "/calls.log"));
        ::setenv("PATH", (dir + ":" + std::getenv("PATH")).c_str(), 1);
    }

    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        ::setenv("HOME", home->path().toUtf8().constData(), 1);
        page = std::make_unique<NewPCConnectPage>();
        page->resize(640, 300);
        page->Load();
    }

    void cleanup()
    {
        page.reset();
        home.reset();
    }

    void startsWaitingWithACode()
    {
        QCOMPARE(view()->currentIndex(), 0);
        QCOMPARE(view()->count(), 4);
        QCOMPARE(code().size(), std::size_t(6));
    }

    void announcesUntilASenderConnects()
    {
        QVERIFY(announcementsHeard(3500) >= 1);
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QTRY_COMPARE(view()->currentIndex(), 1);
        QCOMPARE(announcementsHeard(3500), 0);
    }

    void connectingShowsTheCode()
    {
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QTRY_COMPARE(view()->currentIndex(), 1);
    }

    // The reply is plain; the free space that follows at once is keyed with the code.
    void wrongThenRightCode()
    {
        PageSignals seen(page.get());
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QCOMPARE(sender.pair(wrongCode()), std::string("S1"));
        QCOMPARE(seen.transfers, 0);
        QCOMPARE(sender.pair(code()), std::string("S0"));

        const std::string raw = sender.recvPlain(16);
        QCOMPARE(raw.size(), std::size_t(16));
        std::string plain = raw;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            plain[i] ^= code()[i % 6];
        }
        const DiskSpace here = getDiskSpace();
        QCOMPARE(ScriptedSender::readU64(plain, 0), here.total);
        QVERIFY(ScriptedSender::readU64(plain, 8) <= here.total);
        QVERIFY(raw != plain);

        QTRY_COMPARE(seen.transfers, 1);
        QTRY_COMPARE(view()->currentIndex(), 2);
        QTRY_COMPARE(transferText("currentWork"), QString("正在接收数据..."));

        emptyMigration(sender);
        QTRY_COMPARE(seen.done.size(), 1);
        QCOMPARE(seen.done.at(0), 0);
        QTRY_COMPARE(transferText("currentWork"), QString("迁移完成，请在旧电脑上查看报告"));
        QCOMPARE(page->findChild<QProgressBar*>("progressBar")->value(), 100);
    }

    void fiveByteCodeIsDropped()
    {
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QVERIFY(sender.sendPlain(code().substr(0, 5)));
        // No answer to a short code; the next read starts afresh.
        QCOMPARE(sender.recvPlain(2, 400), std::string());
        QCOMPARE(sender.pair(code()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(sender.readFreeSpace(total, free));
    }

    // After a few quick tries, about one code per second, and the window keeps running meanwhile.
    void guessingIsSlowedDown()
    {
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(20);

        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(sender.pair(wrongCode()), std::string("S1"));
        }
        QVERIFY2(clock.elapsed() < 1500, "the first attempts are answered at once");

        clock.restart();
        const int ticksBefore = ticks;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(sender.pair(wrongCode()), std::string("S1"));
        }
        const qint64 slowed = clock.elapsed();
        QVERIFY2(slowed >= 2500, qPrintable(QString("three more codes took only %1 ms").arg(slowed)));
        QVERIFY2(ticks - ticksBefore >= 50, "the GUI thread kept running while codes waited");

        // The right code still gets through at the allowed pace.
        clock.restart();
        QCOMPARE(sender.pair(code()), std::string("S0"));
        QVERIFY(clock.elapsed() < 3000);
    }

    // Attempts from several connections share one pace: more connections do not mean more guesses.
    void pacingHoldsAcrossConnections()
    {
        ScriptedSender burner;
        QVERIFY(burner.connectTo());
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(burner.pair(wrongCode()), std::string("S1"));
        }
        ScriptedSender a, b, c;
        QVERIFY(a.connectTo("127.0.0.2"));
        QVERIFY(b.connectTo("127.0.0.3"));
        QVERIFY(c.connectTo("127.0.0.4"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(a.sendPlain(wrongCode()));
        QVERIFY(b.sendPlain(wrongCode()));
        QVERIFY(c.sendPlain(wrongCode()));
        QCOMPARE(a.recvPlain(2), std::string("S1"));
        QCOMPARE(b.recvPlain(2), std::string("S1"));
        QCOMPARE(c.recvPlain(2), std::string("S1"));
        QVERIFY2(clock.elapsed() >= 1800, qPrintable(QString("three codes in %1 ms").arg(clock.elapsed())));
    }

    void silentConnectionDoesNotBlockTheSender()
    {
        ScriptedSender silent;
        QVERIFY(silent.connectTo("127.0.0.5"));
        QTRY_COMPARE(view()->currentIndex(), 1);
        QElapsedTimer clock;
        clock.start();
        ScriptedSender sender;
        pairAndReadSpace(sender);
        QVERIFY(clock.elapsed() < 3000);
        emptyMigration(sender);
        // The silent one is still connected and still has not been let in.
        QCOMPARE(silent.recvPlain(1, 200), std::string());
        QVERIFY(silent.isOpen());
    }

    void sameAddressSkipsTheCodeAnotherMustPair()
    {
        ScriptedSender first;
        pairAndReadSpace(first);
        emptyMigration(first);

        // Same address: the free space comes at once, in plain ("继续传输").
        ScriptedSender again;
        QVERIFY(again.connectTo());
        uint64_t total = 0, free = 0;
        QVERIFY(again.readFreeSpace(total, free));
        QCOMPARE(total, getDiskSpace().total);
        emptyMigration(again);

        // Another address gets nothing until it gives the code.
        ScriptedSender stranger;
        QVERIFY(stranger.connectTo("127.0.0.2"));
        QCOMPARE(stranger.recvPlain(16, 500), std::string());
        QCOMPARE(stranger.pair(wrongCode()), std::string("S1"));
        QCOMPARE(stranger.pair(code()), std::string("S0"));
        QVERIFY(stranger.readFreeSpace(total, free));
        emptyMigration(stranger);
    }

    // A sender that went away while giving the code; one that never said a word is no failure to tell.
    void senderLeavingTheCodePageIsReported()
    {
        PageSignals seen(page.get());
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QTRY_COMPARE(view()->currentIndex(), 1);
        QCOMPARE(sender.pair(wrongCode()), std::string("S1"));
        sender.close();
        QTRY_COMPARE(seen.done.size(), 1);
        QCOMPARE(seen.done.at(0), 1);
    }

    // Once a sender is paired, a stranger's dropped connection is not this user's failure.
    void strangerLeavingDuringAMigrationIsNotReported()
    {
        PageSignals seen(page.get());
        ScriptedSender sender;
        pairAndReadSpace(sender);
        {
            ScriptedSender stranger;
            QVERIFY(stranger.connectTo("127.0.0.2"));
            QVERIFY(stranger.sendPlain("12"));
        }
        QTest::qWait(300);
        QCOMPARE(seen.done.size(), 0);
        QCOMPARE(view()->currentIndex(), 2);
        emptyMigration(sender);
        QTRY_COMPARE(seen.done.size(), 1);
        QCOMPARE(seen.done.at(0), 0);
    }

    void hugeApplicationListIsAProtocolError_data()
    {
        QTest::addColumn<uint>("length");
        QTest::newRow("4294967295") << 4294967295u;
        QTest::newRow("one byte over 1 MiB") << (1u << 20) + 1;
    }

    void hugeApplicationListIsAProtocolError()
    {
        QFETCH(uint, length);
        PageSignals seen(page.get());
        ScriptedSender sender;
        pairAndReadSpace(sender);
        QVERIFY(sender.sendTransferHeader(0, 1000));
        QVERIFY(sender.send("S1"));
        QVERIFY(sender.send(ScriptedSender::u32(length)));
        QVERIFY(sender.waitClosed());
        QTRY_COMPARE(seen.done.size(), 1);
        QCOMPARE(seen.done.at(0), 1);
        QTRY_COMPARE(transferText("currentFile"), QString("连接中断"));

        // The same sender can come back and start over with the free space.
        ScriptedSender again;
        QVERIFY(again.connectTo());
        uint64_t total = 0, free = 0;
        QVERIFY(again.readFreeSpace(total, free));
        emptyMigration(again);
    }

    void applicationListIsAnswered()
    {
        ScriptedSender sender;
        pairAndReadSpace(sender);
        QVERIFY(sender.sendTransferHeader(0, 1000));
        const std::string list = "hello ";
        QVERIFY(sender.send("S1"));
        QVERIFY(sender.send(ScriptedSender::u32(static_cast<uint32_t>(list.size()))));
        QVERIFY(sender.send(list));
        QCOMPARE(sender.recv(2), std::string("S3"));
        const std::string length = sender.recv(4);
        QCOMPARE(length, ScriptedSender::u32(1));
        QCOMPARE(sender.recv(1), std::string(1, '\0'));
        QCOMPARE(sender.recv(2), std::string("S0"));
        QVERIFY(sender.waitClosed());
        // hello is in the archive, so the installer was asked for it; dpkg does not know it afterwards.
        const std::string calls = MigrationRig::readFile(tools->path().toStdString() + "/calls.log");
        QVERIFY2(
            calls.find("pkexec bash -c apt update && ACCEPT_EULA=Y apt-get install -y --no-install-recommends hello ")
                != std::string::npos,
            calls.c_str());
    }

    void loadUnloadLoad()
    {
        const std::string before = code();
        ScriptedSender sender;
        QVERIFY(sender.connectTo());
        QTRY_COMPARE(view()->currentIndex(), 1);
        page->Unload();
        QVERIFY(sender.waitClosed());
        QTRY_COMPARE(view()->currentIndex(), 0);
        QTest::qWait(50);
        QCOMPARE(view()->currentIndex(), 0);

        page->Load();
        QCOMPARE(code(), before);
        ScriptedSender next;
        pairAndReadSpace(next);
        emptyMigration(next);

        // Unloading forgets the pairing: the same address must give the code again.
        page->Unload();
        page->Load();
        ScriptedSender after;
        QVERIFY(after.connectTo());
        QCOMPARE(after.recvPlain(16, 500), std::string());
        QCOMPARE(after.pair(code()), std::string("S0"));
    }
};

MOVANTA_TEST_MAIN(TestReceiverPairing)
#include "tst_receiverpairing.moc"
