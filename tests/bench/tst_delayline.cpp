#include "testmain.h"

#include "bench/delayline.h"

namespace {

constexpr std::int64_t Us = 1000;

struct Arrival
{
    std::int64_t at;
    std::uint32_t length;
};

} // namespace

Q_DECLARE_METATYPE(std::vector<Arrival>)
Q_DECLARE_METATYPE(std::vector<std::int64_t>)

// The link emulator's delay line, on a clock the test moves by hand.
class TestDelayLine : public QObject
{
    Q_OBJECT

private slots:
    void leavesInOrderAfterItsTime_data()
    {
        QTest::addColumn<qint64>("delay");
        QTest::addColumn<quint64>("rate");
        QTest::addColumn<std::vector<Arrival>>("arrivals");
        QTest::addColumn<std::vector<std::int64_t>>("due");
        QTest::newRow("delay only: each frame its own arrival plus the delay")
            << qint64(150 * Us) << quint64(0) << std::vector<Arrival> {{0, 1514}, {10 * Us, 60}, {10 * Us, 9000}}
            << std::vector<std::int64_t> {150 * Us, 160 * Us, 160 * Us};
        // 1000 bytes at 8 Mbit/s take 1 ms on the line; the second waits until the first is out.
        QTest::newRow("rate: frames queue behind each other")
            << qint64(100 * Us) << quint64(8000000) << std::vector<Arrival> {{0, 1000}, {0, 1000}, {5000 * Us, 500}}
            << std::vector<std::int64_t> {1100 * Us, 2100 * Us, 5600 * Us};
        QTest::newRow("a clock that steps back never puts a frame ahead of an earlier one")
            << qint64(50 * Us) << quint64(0) << std::vector<Arrival> {{100 * Us, 60}, {40 * Us, 60}}
            << std::vector<std::int64_t> {150 * Us, 150 * Us};
        QTest::newRow("no delay, no rate: due at arrival")
            << qint64(0) << quint64(0) << std::vector<Arrival> {{7, 60}, {9, 60}} << std::vector<std::int64_t> {7, 9};
    }
    void leavesInOrderAfterItsTime()
    {
        QFETCH(qint64, delay);
        QFETCH(quint64, rate);
        QFETCH(std::vector<Arrival>, arrivals);
        QFETCH(std::vector<std::int64_t>, due);
        DelayLine line(delay, rate, 100);
        for (std::size_t i = 0; i < arrivals.size(); ++i) {
            QVERIFY(line.push(arrivals[i].at, arrivals[i].length, static_cast<std::uint32_t>(i)));
        }
        for (std::size_t i = 0; i < due.size(); ++i) {
            QVERIFY(!line.empty());
            // Not a nanosecond early, and out as soon as it is due.
            QVERIFY2(!line.ready(due[i] - 1), qPrintable(QString("frame %1 left early").arg(i)));
            QVERIFY(line.ready(due[i]));
            QCOMPARE(line.nextDue(), due[i]);
            const DelayedFrame frame = line.pop();
            QCOMPARE(frame.slot, static_cast<std::uint32_t>(i));
            QCOMPARE(frame.length, arrivals[i].length);
        }
        QVERIFY(line.empty());
    }

    void dropsWhatFindsTheQueueFull()
    {
        DelayLine line(100 * Us, 0, 2);
        QVERIFY(line.push(0, 60, 0));
        QVERIFY(line.push(1, 60, 1));
        QVERIFY(!line.push(2, 60, 2));
        QCOMPARE(line.size(), std::size_t(2));
        QCOMPARE(line.pop().slot, 0U);
        QVERIFY(line.push(3, 60, 3));
        QCOMPARE(line.pop().slot, 1U);
        QCOMPARE(line.pop().slot, 3U);
        QVERIFY(line.empty());
    }
};

MOVANTA_TEST_MAIN(TestDelayLine)
#include "tst_delayline.moc"
