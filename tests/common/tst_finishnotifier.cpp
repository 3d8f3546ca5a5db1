#include <chrono>
#include <memory>

#include <QDBusConnection>
#include <QDir>

#include "common/finishnotifier.h"
#include "fakebus.h"
#include "testmain.h"

using namespace std::chrono_literals;

class TestFinishNotifier : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    std::unique_ptr<FakeServices> services;
    // The notifier's clock: moved on by hand.
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point() + 1h;

    FakeNotifications& fake() { return services->notifications(); }

    FinishNotifier notifierOnTheTestBus()
    {
        FinishNotifier notifier;
        notifier.setClock([this] { return now; });
        notifier.useBus(QDBusConnection::sessionBus());
        return notifier;
    }

private slots:
    void initTestCase()
    {
        if (!bus.start()) {
            QSKIP(qPrintable(bus.why()));
        }
        // The desktop's bus is the test's own for everything in this process.
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
        services = std::make_unique<FakeServices>(bus.address(), FakeServices::Notifications);
        QVERIFY(services->ready());
    }

    void notifiesOnlyLongRunsInTheBackground_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("windowActive");
        QTest::addColumn<bool>("notified");
        QTest::newRow("two hours, window in the background") << 7200 << false << true;
        QTest::newRow("61 seconds, window in the background") << 61 << false << true;
        QTest::newRow("exactly a minute is not more") << 60 << false << false;
        QTest::newRow("half a minute") << 30 << false << false;
        QTest::newRow("two hours, window active") << 7200 << true << false;
    }
    void notifiesOnlyLongRunsInTheBackground()
    {
        QFETCH(int, seconds);
        QFETCH(bool, windowActive);
        QFETCH(bool, notified);
        const int before = fake().callCount();
        FinishNotifier notifier = notifierOnTheTestBus();
        notifier.started();
        QVERIFY(notifier.running());
        now += std::chrono::seconds(seconds);
        const QString body = QStringLiteral("迁移完成，请在旧电脑上查看报告");
        QCOMPARE(notifier.ended(windowActive, QStringLiteral("迁移完成"), body), notified);
        QVERIFY(!notifier.running());
        if (notified) {
            QTRY_COMPARE(fake().callCount(), before + 1);
            const FakeNotifications::Call call = fake().calls().back();
            QCOMPARE(call.app, QStringLiteral("Movanta"));
            QCOMPARE(call.icon, QStringLiteral("movanta"));
            QCOMPARE(call.summary, QStringLiteral("迁移完成"));
            QCOMPARE(call.body, body);
            QCOMPARE(call.replaces, 0u);
            QCOMPARE(call.timeout, -1);
        } else {
            // Whatever was sent would have arrived by now.
            QTest::qWait(200);
            QCOMPARE(fake().callCount(), before);
        }
    }

    void thresholdCanBeSet()
    {
        const int before = fake().callCount();
        FinishNotifier notifier = notifierOnTheTestBus();
        notifier.setThreshold(5min);
        notifier.started();
        now += 4min;
        QVERIFY(!notifier.ended(false, "a", "b"));
        notifier.started();
        now += 6min;
        QVERIFY(notifier.ended(false, "a", "b"));
        QTRY_COMPARE(fake().callCount(), before + 1);
    }

    void aRunIsTimedFromItsFirstStart()
    {
        const int before = fake().callCount();
        FinishNotifier notifier = notifierOnTheTestBus();
        notifier.started();
        now += 50s;
        // The receiver's page may say again that it started (a sender that reconnects).
        notifier.started();
        now += 20s;
        QVERIFY(notifier.ended(false, "a", "b"));
        QTRY_COMPARE(fake().callCount(), before + 1);
    }

    void nothingIsSaidWithoutARun()
    {
        const int before = fake().callCount();
        FinishNotifier notifier = notifierOnTheTestBus();
        QVERIFY(!notifier.ended(false, "a", "b"));
        notifier.started();
        now += 2h;
        notifier.forget();
        QVERIFY(!notifier.running());
        QVERIFY(!notifier.ended(false, "a", "b"));
        QTest::qWait(200);
        QCOMPARE(fake().callCount(), before);
    }

    void failuresAreSilent_data()
    {
        QTest::addColumn<bool>("busThere");
        QTest::newRow("no bus at all") << false;
        QTest::newRow("a bus without a notification service") << true;
    }
    void failuresAreSilent()
    {
        QFETCH(bool, busThere);
        PrivateBus empty;
        if (busThere) {
            QVERIFY2(empty.start(), qPrintable(empty.why()));
        }
        const QString address
            = busThere ? empty.address() : QStringLiteral("unix:path=") + QDir::tempPath() + "/no-such-bus-here";
        const QString name = QStringLiteral("notifier-test-") + QTest::currentDataTag();
        {
            FinishNotifier notifier;
            notifier.setClock([this] { return now; });
            notifier.useBus(QDBusConnection::connectToBus(address, name));
            notifier.started();
            now += 2h;
            // Sent off on a bus, dropped without one; either way nothing waits and nothing breaks.
            QCOMPARE(notifier.ended(false, "a", "b"), busThere);
            QTest::qWait(100);
        }
        QDBusConnection::disconnectFromBus(name);
    }
};

MOVANTA_TEST_MAIN(TestFinishNotifier)
#include "tst_finishnotifier.moc"
