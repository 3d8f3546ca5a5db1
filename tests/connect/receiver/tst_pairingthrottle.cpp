#include <set>

#include "connect/receiver/pairingcode.h"
#include "connect/receiver/pairingthrottle.h"
#include "testmain.h"

using namespace std::chrono;

class TestPairingThrottle : public QObject
{
    Q_OBJECT

private:
    static PairingThrottle::Clock::time_point at(double seconds)
    {
        return PairingThrottle::Clock::time_point(
                   duration_cast<PairingThrottle::Clock::duration>(duration<double>(seconds)))
            + hours(1);
    }

    // Attempts granted to one connection that asks as often as it may, every 10 ms from 0 to `until` ms.
    static int granted(PairingThrottle& throttle, int until)
    {
        int count = 0;
        for (int ms = 0; ms <= until; ms += 10) {
            uint64_t ticket = throttle.takeTicket();
            while (throttle.tryAcquire(ticket, at(ms / 1000.0))) {
                ++count;
                ticket = throttle.takeTicket();
            }
            throttle.dropTicket(ticket);
        }
        return count;
    }

private slots:
    void pace_data()
    {
        QTest::addColumn<int>("until");
        QTest::addColumn<int>("expected");
        QTest::newRow("the first five at once") << 0 << 5;
        QTest::newRow("then one more after a second") << 1000 << 6;
        QTest::newRow("one per second after that") << 10000 << 15;
        QTest::newRow("a minute gives about sixty") << 60000 << 65;
    }

    void pace()
    {
        QFETCH(int, until);
        QFETCH(int, expected);
        PairingThrottle throttle;
        QCOMPARE(granted(throttle, until), expected);
    }

    void idleTimeRefillsOnlyTheBurst()
    {
        PairingThrottle throttle;
        for (int i = 0; i < 5; ++i) {
            QVERIFY(throttle.tryAcquire(throttle.takeTicket(), at(0)));
        }
        // A quiet hour does not bank thousands of attempts.
        int burst = 0;
        for (int i = 0; i < 20; ++i) {
            const uint64_t t = throttle.takeTicket();
            if (throttle.tryAcquire(t, at(3600))) {
                ++burst;
            } else {
                throttle.dropTicket(t);
            }
        }
        QCOMPARE(burst, 5);
    }

    void oldestWaitingGoesFirst()
    {
        PairingThrottle throttle(1, seconds(1));
        const uint64_t first = throttle.takeTicket();
        const uint64_t second = throttle.takeTicket();
        QVERIFY(!throttle.tryAcquire(second, at(0)));
        QVERIFY(throttle.tryAcquire(first, at(0)));
        QVERIFY(!throttle.tryAcquire(second, at(0.5)));
        QVERIFY(throttle.tryAcquire(second, at(1.0)));
    }

    void droppedTicketsDoNotBlockTheQueue()
    {
        PairingThrottle throttle;
        const uint64_t gone = throttle.takeTicket();
        const uint64_t waiting = throttle.takeTicket();
        QVERIFY(!throttle.tryAcquire(waiting, at(0)));
        throttle.dropTicket(gone);
        QVERIFY(throttle.tryAcquire(waiting, at(0)));
    }

    void usedTicketsCannotBeUsedAgain()
    {
        PairingThrottle throttle;
        const uint64_t t = throttle.takeTicket();
        QVERIFY(throttle.tryAcquire(t, at(0)));
        QVERIFY(!throttle.tryAcquire(t, at(0)));
        QVERIFY(t != 0);
    }

    void codesAreSixDigitsAndSpread()
    {
        std::set<std::string> seen;
        int digitCounts[10] = {};
        for (int i = 0; i < 2000; ++i) {
            const std::string code = getPairingCode();
            QCOMPARE(code.size(), std::size_t(6));
            for (char c : code) {
                QVERIFY(c >= '0' && c <= '9');
                ++digitCounts[c - '0'];
            }
            seen.insert(code);
        }
        QVERIFY(seen.size() > 1980);
        // 12000 digits: each should turn up about 1200 times.
        for (int count : digitCounts) {
            QVERIFY2(count > 1000 && count < 1400, qPrintable(QString::number(count)));
        }
    }
};

MOVANTA_TEST_MAIN(TestPairingThrottle)
#include "tst_pairingthrottle.moc"
