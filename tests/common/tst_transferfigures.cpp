#include "testmain.h"

#include <chrono>

#include "common/transferfigures.h"

using namespace std::chrono_literals;
using Clock = TransferFigures::Clock;

namespace {

constexpr uint64_t MB = 1024 * 1024;

// A stretch of a run at one rate; the page looks four times a second.
struct Phase
{
    int quarterSeconds;
    uint64_t bytesPerSecond;
};

} // namespace

Q_DECLARE_METATYPE(QVector<Phase>)

class TestTransferFigures : public QObject
{
    Q_OBJECT

    // Feeds the phases from a start at t0 and returns the time of the last update.
    static Clock::time_point play(TransferFigures& figures, Clock::time_point t0, const QVector<Phase>& phases)
    {
        figures.start(t0);
        Clock::time_point now = t0;
        uint64_t bytes = 0;
        for (const Phase& phase : phases) {
            for (int i = 0; i < phase.quarterSeconds; ++i) {
                now += 250ms;
                bytes += phase.bytesPerSecond / 4;
                figures.update(now, 0, bytes);
            }
        }
        return now;
    }

private slots:
    void movingAverage_data()
    {
        QTest::addColumn<QVector<Phase>>("phases");
        QTest::addColumn<uint64_t>("total");
        // -1: no speed known.
        QTest::addColumn<double>("speed");
        // -1: no estimate.
        QTest::addColumn<qint64>("secondsLeft");
        QTest::addColumn<QString>("timeLeftText");

        QTest::newRow("steady 10 MB/s, 100 MB left")
            << QVector<Phase> {{40, 10 * MB}} << 200 * MB << double(10 * MB) << qint64(10) << "剩余约 10 秒";
        QTest::newRow("not settled after half a second")
            << QVector<Phase> {{2, 10 * MB}} << 200 * MB << -1.0 << qint64(-1) << "正在估算剩余时间";
        QTest::newRow("settled after one second")
            << QVector<Phase> {{4, 8 * MB}} << 16 * MB << double(8 * MB) << qint64(1) << "剩余约 1 秒";
        QTest::newRow("a faster link shows within the window")
            << QVector<Phase> {{40, 1 * MB}, {24, 4 * MB}} << 1000 * MB << double(4 * MB) << qint64(242)
            << "剩余约 4 分钟";
        QTest::newRow("two seconds after a change the average mixes both") << QVector<Phase> {{40, 1 * MB},
            {8, 6 * MB}} << 1000 * MB << double(3 * MB) << qint64(326) << "剩余约 5 分钟 24 秒";
        QTest::newRow("a stalled link gives no estimate")
            << QVector<Phase> {{20, 5 * MB}, {24, 0}} << 100 * MB << 0.0 << qint64(-1) << "正在估算剩余时间";
        QTest::newRow("the estimate is rounded up")
            << QVector<Phase> {{20, 3 * MB}} << 25 * MB << double(3 * MB) << qint64(4) << "剩余约 4 秒";
        QTest::newRow("everything done") << QVector<Phase> {{20, 2 * MB}} << 10 * MB << double(2 * MB) << qint64(0)
                                         << "即将完成";
        QTest::newRow("a crawl of days is no estimate")
            << QVector<Phase> {{20, 4}} << 1000000 * MB << 4.0 << qint64(-1) << "正在估算剩余时间";
        QTest::newRow("hours away") << QVector<Phase> {{40, 1 * MB}} << 5410 * MB << double(1 * MB) << qint64(5400)
                                    << "剩余约 1 小时 30 分钟";
    }

    void movingAverage()
    {
        QFETCH(QVector<Phase>, phases);
        QFETCH(uint64_t, total);
        QFETCH(double, speed);
        QFETCH(qint64, secondsLeft);
        QFETCH(QString, timeLeftText);

        TransferFigures figures;
        figures.setTotals(10, total);
        play(figures, Clock::time_point(1h), phases);
        const std::optional<double> shown = figures.speed();
        if (speed < 0) {
            QVERIFY(!shown);
        } else {
            QVERIFY(shown);
            QVERIFY2(qAbs(*shown - speed) < 1.0, qPrintable(QString::number(*shown)));
        }
        const std::optional<uint64_t> left = figures.secondsLeft();
        if (secondsLeft < 0) {
            QVERIFY(!left);
        } else {
            QVERIFY(left);
            QCOMPARE(qint64(*left), secondsLeft);
        }
        QCOMPARE(figures.timeLeftText(), timeLeftText);
    }

    void countsNeverGoBack()
    {
        TransferFigures figures;
        figures.setTotals(5, 5000);
        const Clock::time_point t0(10s);
        figures.start(t0);
        figures.update(t0 + 1s, 3, 3000);
        figures.update(t0 + 2s, 2, 1000);
        QCOMPARE(figures.filesDone(), uint64_t(3));
        QCOMPARE(figures.bytesDone(), uint64_t(3000));
        // A clock read before the last sample does not make the span negative.
        figures.update(t0 + 1500ms, 4, 4000);
        QCOMPARE(figures.filesDone(), uint64_t(4));
        QVERIFY(figures.speed());
        QVERIFY(*figures.speed() > 0);
    }

    void startForgetsTheLastRun()
    {
        TransferFigures figures;
        figures.setTotals(2, 2 * MB);
        const Clock::time_point t0(100s);
        play(figures, t0, {{20, 1 * MB}});
        QVERIFY(figures.speed());
        figures.start(t0 + 60s);
        QCOMPARE(figures.filesDone(), uint64_t(0));
        QCOMPARE(figures.bytesDone(), uint64_t(0));
        QVERIFY(!figures.speed());
        QCOMPARE(figures.speedText(), QString("速度 --"));
        // Totals belong to the run and stay until new ones come.
        QCOMPARE(figures.filesTotal(), uint64_t(2));
    }

    void updateWithoutStartStartsThere()
    {
        TransferFigures figures;
        figures.setTotals(1, 8 * MB);
        const Clock::time_point t0(5s);
        figures.update(t0, 0, 0);
        figures.update(t0 + 2s, 0, 4 * MB);
        QVERIFY(figures.speed());
        QCOMPARE(*figures.speed(), double(2 * MB));
        QCOMPARE(*figures.averageSpeed(), double(2 * MB));
    }

    void texts_data()
    {
        QTest::addColumn<uint64_t>("filesDone");
        QTest::addColumn<uint64_t>("filesTotal");
        QTest::addColumn<uint64_t>("bytesDone");
        QTest::addColumn<uint64_t>("bytesTotal");
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("average");
        // Each row is reached in 4 seconds.
        QTest::newRow("nothing yet") << uint64_t(0) << uint64_t(340) << uint64_t(0) << uint64_t(3 * 1024 * MB)
                                     << "0 / 340 个文件"
                                     << "0 B / 3 GB"
                                     << "平均速度 0 B/s";
        QTest::newRow("partway") << uint64_t(12) << uint64_t(340) << uint64_t(1536) << uint64_t(3 * 1024 * MB)
                                 << "12 / 340 个文件"
                                 << "1.5 KB / 3 GB"
                                 << "平均速度 384 B/s";
        QTest::newRow("done") << uint64_t(7) << uint64_t(7) << uint64_t(40 * MB) << uint64_t(40 * MB) << "7 / 7 个文件"
                              << "40 MB / 40 MB"
                              << "平均速度 10 MB/s";
    }

    void texts()
    {
        QFETCH(uint64_t, filesDone);
        QFETCH(uint64_t, filesTotal);
        QFETCH(uint64_t, bytesDone);
        QFETCH(uint64_t, bytesTotal);
        QFETCH(QString, files);
        QFETCH(QString, bytes);
        QFETCH(QString, average);

        TransferFigures figures;
        figures.setTotals(filesTotal, bytesTotal);
        const Clock::time_point t0(20s);
        figures.start(t0);
        figures.update(t0 + 4s, filesDone, bytesDone);
        QCOMPARE(figures.filesText(), files);
        QCOMPARE(figures.bytesText(), bytes);
        QCOMPARE(figures.averageSpeedText(), average);
    }

    void averageBeforeAnyTime()
    {
        TransferFigures figures;
        figures.start(Clock::time_point(1s));
        QVERIFY(!figures.averageSpeed());
        QCOMPARE(figures.averageSpeedText(), QString("平均速度 --"));
    }

    void speedText_data()
    {
        QTest::addColumn<double>("bytesPerSecond");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0 B/s";
        QTest::newRow("below zero is zero") << -5.0 << "0 B/s";
        QTest::newRow("1.5 KB/s") << 1536.0 << "1.5 KB/s";
        QTest::newRow("fractions of a byte are dropped") << 1023.9 << "1023 B/s";
        QTest::newRow("112 MB/s, a gigabit link") << 117440512.0 << "112 MB/s";
        QTest::newRow("absurd values are held at 10^18 B/s") << 1e300 << "909495 TB/s";
    }

    void speedText()
    {
        QFETCH(double, bytesPerSecond);
        QFETCH(QString, text);
        QCOMPARE(getSpeedText(bytesPerSecond), text);
    }

    void averageSpeed_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<qint64>("milliseconds");
        QTest::addColumn<double>("speed");
        QTest::newRow("100 MB in 20 s") << quint64(100 * MB) << qint64(20000) << double(5 * MB);
        QTest::newRow("no time passed") << quint64(100) << qint64(0) << -1.0;
        QTest::newRow("a clock that went back") << quint64(100) << qint64(-5) << -1.0;
        QTest::newRow("nothing moved") << quint64(0) << qint64(3000) << 0.0;
    }

    void averageSpeed()
    {
        QFETCH(quint64, bytes);
        QFETCH(qint64, milliseconds);
        QFETCH(double, speed);
        const std::optional<double> got = getAverageSpeed(bytes, std::chrono::milliseconds(milliseconds));
        if (speed < 0) {
            QVERIFY(!got);
        } else {
            QVERIFY(got);
            QCOMPARE(*got, speed);
        }
    }
};

MOVANTA_TEST_MAIN(TestTransferFigures)
#include "tst_transferfigures.moc"
