#include "testmain.h"

#include "common/sizetext.h"

class TestSizeText : public QObject
{
    Q_OBJECT

private slots:
    void sizeText_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint64(0) << "0 B";
        QTest::newRow("1023 stays bytes") << quint64(1023) << "1023 B";
        QTest::newRow("1024 is one KB") << quint64(1024) << "1 KB";
        QTest::newRow("1536 is 1.5 KB") << quint64(1536) << "1.5 KB";
        QTest::newRow("2047 truncates the tenth") << quint64(2047) << "1.9 KB";
        QTest::newRow("a million") << quint64(1000000) << "976.5 KB";
        QTest::newRow("one GB") << quint64(1) * 1024 * 1024 * 1024 << "1 GB";
        QTest::newRow("2048 TB stays in TB") << quint64(2048) * 1024 * 1024 * 1024 * 1024 << "2048 TB";
    }
    void sizeText()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(getSizeText(bytes), text);
    }

    void timeText_data()
    {
        QTest::addColumn<quint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << quint64(0) << QString::fromUtf8("0 秒");
        QTest::newRow("59") << quint64(59) << QString::fromUtf8("59 秒");
        QTest::newRow("60") << quint64(60) << QString::fromUtf8("1 分钟");
        QTest::newRow("90") << quint64(90) << QString::fromUtf8("1 分钟 30 秒");
        QTest::newRow("119 in steps of 6") << quint64(119) << QString::fromUtf8("1 分钟 54 秒");
        QTest::newRow("3599") << quint64(3599) << QString::fromUtf8("59 分钟 54 秒");
        QTest::newRow("5400") << quint64(5400) << QString::fromUtf8("1 小时 30 分钟");
        QTest::newRow("86400") << quint64(86400) << QString::fromUtf8("24 小时");
        QTest::newRow("61 from 3 GiB") << quint64(61) << QString::fromUtf8("1 分钟");
        QTest::newRow("204 from 10 GiB") << quint64(204) << QString::fromUtf8("3 分钟 24 秒");
    }
    void timeText()
    {
        QFETCH(quint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(getTimeText(seconds), text);
    }
};

MOVANTA_TEST_MAIN(TestSizeText)
#include "tst_sizetext.moc"
