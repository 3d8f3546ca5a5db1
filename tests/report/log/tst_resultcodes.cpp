#include "testmain.h"

#include "report/log/resultcodes.h"

class TestResultCodes : public QObject
{
    Q_OBJECT

private slots:
    void reason_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("reason");
        QTest::newRow("0 succeeded, no reason") << 0 << QString();
        QTest::newRow("1 sending failed") << 1 << QStringLiteral("发送文件失败");
        QTest::newRow("2 directory not created") << 2 << QStringLiteral("无法创建目录");
        QTest::newRow("4 file not created or opened") << 4 << QStringLiteral("无法创建或打开文件");
        QTest::newRow("6 is 2 and 4 together") << 6 << QStringLiteral("无法创建或打开文件");
        QTest::newRow("8 connection closed") << 8 << QStringLiteral("连接已关闭");
        QTest::newRow("16 missing or locked") << 16 << QStringLiteral("文件不存在或被锁定");
        QTest::newRow("64 application not installed") << 64 << QStringLiteral("应用安装失败");
        QTest::newRow("3 is not in the table") << 3 << QStringLiteral("网络异常");
        QTest::newRow("5 is not in the table") << 5 << QStringLiteral("网络异常");
        QTest::newRow("17 is 16 with the receiver's 1") << 17 << QStringLiteral("网络异常");
        QTest::newRow("32 is not in the table") << 32 << QStringLiteral("网络异常");
        QTest::newRow("255 connection lost before the header") << 255 << QStringLiteral("网络异常");
        QTest::newRow("negative") << -1 << QStringLiteral("网络异常");
    }
    void reason()
    {
        QFETCH(int, result);
        QFETCH(QString, reason);
        QCOMPARE(QString::fromStdString(getFailureReason(result)), reason);
    }
};

MOVANTA_TEST_MAIN(TestResultCodes)
#include "tst_resultcodes.moc"
