#include "testmain.h"

#include <chrono>
#include <string>

#include <QDateTime>

#include "report/log/reportappender.h"
#include "report/log/reportline.h"
#include "report/log/secondclock.h"

using namespace std::chrono_literals;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace
using Clock = std::chrono::system_clock;

Q_DECLARE_METATYPE(std::string)

class TestReportLine : public QObject
{
    Q_OBJECT

private slots:
    void secondClockGivesTheLocalTimeOfEachSecond()
    {
        SecondClock clock;
        const auto base = std::chrono::system_clock::time_point(std::chrono::seconds(1765000000));
        for (const auto offset : {0ms, 1ms, 999ms, 1000ms, 1001ms, 61500ms, 3600000ms, 1000ms}) {
            const auto when = base + offset;
            const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
            const QTime expected = QDateTime::fromMSecsSinceEpoch(ms - ms % 1000).time();
            QCOMPARE(clock.timeAt(when), expected);
            QCOMPARE(getClockText(clock.timeAt(when)), getClockText(QDateTime::fromMSecsSinceEpoch(ms).time()));
        }
    }

    void duration_data()
    {
        QTest::addColumn<qint64>("milliseconds");
        QTest::addColumn<quint64>("seconds");
        QTest::newRow("no time") << qint64(0) << quint64(0);
        QTest::newRow("999 ms truncates to 0") << qint64(999) << quint64(0);
        QTest::newRow("1.5 s truncates to 1") << qint64(1500) << quint64(1);
        QTest::newRow("90 s") << qint64(90000) << quint64(90);
        QTest::newRow("an hour") << qint64(3600000) << quint64(3600);
        QTest::newRow("end before start gives 0") << qint64(-5000) << quint64(0);
    }
    void duration()
    {
        QFETCH(qint64, milliseconds);
        QFETCH(quint64, seconds);
        const Clock::time_point start = Clock::now();
        QCOMPARE(getDurationSeconds(start, start + std::chrono::milliseconds(milliseconds)), seconds);
    }

    void clockText_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("two digits each") << QTime(9, 5, 7, 123) << "09:05:07";
        QTest::newRow("24-hour afternoon") << QTime(15, 30, 45) << "15:30:45";
        QTest::newRow("midnight") << QTime(0, 0, 0) << "00:00:00";
    }
    void clockText()
    {
        QFETCH(QTime, time);
        QFETCH(QString, text);
        QCOMPARE(getClockText(time), text);
    }

    void succeededLine_data()
    {
        QTest::addColumn<std::string>("filename");
        QTest::addColumn<quint64>("size");
        QTest::addColumn<quint64>("seconds");
        QTest::addColumn<std::string>("line");
        QTest::newRow("plain path") << std::string("/home/user/a.txt") << quint64(1536) << quint64(90)
                                    << std::string("/home/user/a.txt\t1.5 KB\t15:30:45\t1 分钟 30 秒\n");
        QTest::newRow("Chinese path") << std::string("/home/user/文档/报告.odt") << quint64(1023) << quint64(0)
                                      << std::string("/home/user/文档/报告.odt\t1023 B\t15:30:45\t0 秒\n");
        QTest::newRow("tab in the name stays") << std::string("/tmp/a\tb") << quint64(2047) << quint64(5)
                                               << std::string("/tmp/a\tb\t1.9 KB\t15:30:45\t5 秒\n");
        QTest::newRow("bytes that are not UTF-8 stay") << std::string("/tmp/\xff\xfe.bin") << quint64(0) << quint64(1)
                                                       << std::string("/tmp/\xff\xfe.bin\t0 B\t15:30:45\t1 秒\n");
    }
    void succeededLine()
    {
        QFETCH(std::string, filename);
        QFETCH(quint64, size);
        QFETCH(quint64, seconds);
        QFETCH(std::string, line);
        QCOMPARE(getSucceededLine(filename, size, QTime(15, 30, 45), seconds), line);
    }

    void failedLine_data()
    {
        QTest::addColumn<std::string>("filename");
        QTest::addColumn<std::string>("reason");
        QTest::addColumn<std::string>("line");
        QTest::newRow("the example line")
            << std::string("/home/user/文档/a.txt") << std::string("无法创建目录")
            << std::string("/home/user/文档/a.txt\t12 KB\t无法创建目录\t15:30:45\t0 秒\n");
        QTest::newRow("tab in the name gives an extra field") << std::string(
            "/tmp/x\ty") << std::string("连接已关闭") << std::string("/tmp/x\ty\t12 KB\t连接已关闭\t15:30:45\t0 秒\n");
    }
    void failedLine()
    {
        QFETCH(std::string, filename);
        QFETCH(std::string, reason);
        QFETCH(std::string, line);
        const std::string written = getFailedLine(filename, 12288, reason, QTime(15, 30, 45), 0);
        QCOMPARE(written, line);
    }

    void tabInNameMakesMoreFields()
    {
        const std::string line = getFailedLine("/tmp/a\tb\tc", 1, "网络异常", QTime(1, 2, 3), 0);
        const QStringList fields = QString::fromStdString(line).chopped(1).split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 7);
        QCOMPARE(fields.last(), QStringLiteral("0 秒"));
    }

    void appendCreatesAndAppends()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral(".failed.txt"));
        ReportAppender report(path.toStdString());
        QVERIFY(report.append("first\tline\n"));
        // Visible to a reader (the "cp" of the report files) before any close.
        QCOMPARE(readAll(path), QByteArray("first\tline\n"));
        QVERIFY(report.append("second\n"));
        QCOMPARE(readAll(path), QByteArray("first\tline\nsecond\n"));
    }

    void appendSurvivesRemovalAndRestore()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral(".succeed.txt"));
        ReportAppender report(path.toStdString());
        QVERIFY(report.append("old\n"));
        // "rm" between runs: the next line starts a new file instead of vanishing with the old one.
        QVERIFY(QFile::remove(path));
        QVERIFY(report.append("new\n"));
        QCOMPARE(readAll(path), QByteArray("new\n"));
        // A restore ("cp" over the same file) truncates it; lines go after the restored content.
        {
            QFile restore(path);
            QVERIFY(restore.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(restore.write("restored\n"), qint64(9));
        }
        QVERIFY(report.append("after\n"));
        QCOMPARE(readAll(path), QByteArray("restored\nafter\n"));
        report.close();
        QVERIFY(report.append("reopened\n"));
        QCOMPARE(readAll(path), QByteArray("restored\nafter\nreopened\n"));
    }

    void appendReportsFailure_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("missing directory") << QStringLiteral("no/such/dir/.succeed.txt");
        QTest::newRow("the path is a directory") << QStringLiteral("adir");
    }
    void appendReportsFailure()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("adir")));
        ReportAppender report(dir.filePath(relative).toStdString());
        QVERIFY(!report.append("x\n"));
    }

    void percentage_data()
    {
        QTest::addColumn<quint64>("succeeded");
        QTest::addColumn<quint64>("failed");
        QTest::addColumn<QString>("text");
        QTest::newRow("no items") << quint64(0) << quint64(0) << "0 %";
        QTest::newRow("1 of 3 truncates") << quint64(1) << quint64(2) << "33 %";
        QTest::newRow("2 of 3 truncates") << quint64(2) << quint64(1) << "66 %";
        QTest::newRow("all") << quint64(7) << quint64(0) << "100 %";
        QTest::newRow("none of 2") << quint64(0) << quint64(2) << "0 %";
        QTest::newRow("99999 of 100000") << quint64(99999) << quint64(1) << "99 %";
    }
    void percentage()
    {
        QFETCH(quint64, succeeded);
        QFETCH(quint64, failed);
        QFETCH(QString, text);
        QCOMPARE(getPercentageText(succeeded, failed), text);
    }

    void reportTimeText()
    {
        const QDateTime when(QDate(2024, 1, 18), QTime(15, 30, 45));
        QCOMPARE(getReportTimeText(when), QStringLiteral("报告生成时间：2024年01月18日-15:30:45"));
        QCOMPARE(getReportTimeText(QDateTime(QDate(2026, 12, 8), QTime(7, 5, 3))),
            QStringLiteral("报告生成时间：2026年12月08日-07:05:03"));
    }
};

MOVANTA_TEST_MAIN(TestReportLine)
#include "tst_reportline.moc"
