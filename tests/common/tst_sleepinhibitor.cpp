#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryFile>

#include "common/sleepinhibitor.h"
#include "fakebus.h"
#include "testmain.h"

namespace {

const QString Why = QStringLiteral("正在迁移数据");

// Standard error of this process goes to a file while it lives, so a test can count the lines said.
class CapturedErrors
{
public:
    CapturedErrors()
    {
        file.open();
        std::fflush(stderr);
        saved = ::dup(2);
        ::dup2(file.handle(), 2);
    }
    ~CapturedErrors() { restore(); }
    QStringList lines()
    {
        restore();
        file.seek(0);
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    void restore()
    {
        if (saved >= 0) {
            std::fflush(stderr);
            ::dup2(saved, 2);
            ::close(saved);
            saved = -1;
        }
    }
    QTemporaryFile file;
    int saved = -1;
};

} // namespace

class TestSleepInhibitor : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    std::unique_ptr<FakeServices> services;

    FakeLogin& login() { return services->login(); }

private slots:
    void initTestCase()
    {
        if (!bus.start()) {
            QSKIP(qPrintable(bus.why()));
        }
        // The program asks the system bus; the test's bus stands in for it through the usual variable, set
        // before anything in this process opens the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
        services = std::make_unique<FakeServices>(bus.address(), FakeServices::Login);
        QVERIFY(services->ready());
    }

    void asksForSleepAndIdleAndReleasesOnDestruction()
    {
        const int before = login().callCount();
        {
            SleepInhibitor inhibitor(Why);
            QVERIFY(inhibitor.waiting() || inhibitor.holding());
            QTRY_VERIFY(inhibitor.holding());
            QVERIFY(!inhibitor.waiting());
            QCOMPARE(login().callCount(), before + 1);
            const FakeLogin::Call call = login().calls().back();
            QCOMPARE(call.what, QStringLiteral("sleep:idle"));
            QCOMPARE(call.who, QStringLiteral("Movanta"));
            QCOMPARE(call.why, Why);
            QCOMPARE(call.mode, QStringLiteral("block"));
            // Held, not just asked for: the login manager still sees the lock a while later.
            QTest::qWait(200);
            QVERIFY(!login().released(before));
        }
        QTRY_VERIFY(login().released(before));
        QCOMPARE(login().callCount(), before + 1);
    }

    void eachLockIsReleasedByItsOwner()
    {
        const int first = login().callCount();
        auto a = std::make_unique<SleepInhibitor>(Why);
        auto b = std::make_unique<SleepInhibitor>(QStringLiteral("another reason"));
        QTRY_VERIFY(a->holding() && b->holding());
        QCOMPARE(login().callCount(), first + 2);
        b.reset();
        QTRY_VERIFY(login().released(first + 1));
        QVERIFY(!login().released(first));
        a.reset();
        QTRY_VERIFY(login().released(first));
    }

    void lockGrantedAfterTheOwnerWentIsNotKept()
    {
        const int before = login().callCount();
        login().setAnswerDelay(300);
        {
            SleepInhibitor inhibitor(Why);
            QVERIFY(inhibitor.waiting());
        }
        QTRY_COMPARE(login().callCount(), before + 1);
        login().setAnswerDelay(0);
        QTRY_VERIFY(login().released(before));
    }

    void programStartedMeanwhileDoesNotKeepTheLock()
    {
        const int before = login().callCount();
        auto inhibitor = std::make_unique<SleepInhibitor>(Why);
        QTRY_VERIFY(inhibitor->holding());
        // A viewer started during the migration inherits no copy of the lock.
        QProcess child;
        child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(child.waitForStarted());
        inhibitor.reset();
        QTRY_VERIFY(login().released(before));
        QCOMPARE(child.state(), QProcess::Running);
        child.kill();
        child.waitForFinished();
    }

    void missingServiceIsSaidInOneLine()
    {
        CapturedErrors errors;
        const QString name = QStringLiteral("inhibitor-test-lines");
        {
            PrivateBus empty;
            QVERIFY2(empty.start(), qPrintable(empty.why()));
            QDBusConnection connection = QDBusConnection::connectToBus(empty.address(), name);
            for (int i = 0; i < 3; ++i) {
                SleepInhibitor inhibitor(Why, connection);
                QTRY_VERIFY(!inhibitor.waiting());
            }
            SleepInhibitor noBus(Why, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "x"));
        }
        QDBusConnection::disconnectFromBus(name);
        const QStringList lines = errors.lines();
        // The first time this process meets a missing service, and never again.
        QVERIFY2(lines.size() == 1, qPrintable(lines.join('\n')));
        for (const QString& line : lines) {
            QVERIFY2(line.startsWith("keep awake:"), qPrintable(line));
        }
    }

    void nothingFailsWithoutTheService_data()
    {
        QTest::addColumn<bool>("busThere");
        QTest::newRow("no bus at all") << false;
        QTest::newRow("a bus without a login manager") << true;
    }
    void nothingFailsWithoutTheService()
    {
        QFETCH(bool, busThere);
        PrivateBus empty;
        if (busThere) {
            QVERIFY2(empty.start(), qPrintable(empty.why()));
        }
        const QString address
            = busThere ? empty.address() : QStringLiteral("unix:path=") + QDir::tempPath() + "/no-such-bus-here";
        const QString name = QStringLiteral("inhibitor-test-") + QTest::currentDataTag();
        {
            QDBusConnection connection = QDBusConnection::connectToBus(address, name);
            QCOMPARE(connection.isConnected(), busThere);
            SleepInhibitor inhibitor(Why, connection);
            QTRY_VERIFY(!inhibitor.waiting());
            QVERIFY(!inhibitor.holding());
        }
        QDBusConnection::disconnectFromBus(name);
    }
};

MOVANTA_TEST_MAIN(TestSleepInhibitor)
#include "tst_sleepinhibitor.moc"
