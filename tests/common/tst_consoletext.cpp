#include "common/consoletext.h"
#include "testmain.h"

class TestConsoleText : public QObject
{
    Q_OBJECT

private slots:
    void escapes_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("plain") << QByteArray("/home/a/b c.txt") << QByteArray("/home/a/b c.txt");
        QTest::newRow("utf-8 stays") << QByteArray("照片/一.jpg") << QByteArray("照片/一.jpg");
        QTest::newRow("newline forges no line") << QByteArray("a\nsucceed") << QByteArray("a\\x0asucceed");
        QTest::newRow("terminal escape") << QByteArray("\x1b[2Jx") << QByteArray("\\x1b[2Jx");
        QTest::newRow("carriage return, delete") << QByteArray("a\rb\x7f") << QByteArray("a\\x0db\\x7f");
        QTest::newRow("backslash stays readable") << QByteArray("a\\x0a") << QByteArray("a\\\\x0a");
    }
    void escapes()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QByteArray, shown);
        QCOMPARE(QByteArray::fromStdString(getConsoleText(raw.toStdString())), shown);
    }
};

MOVANTA_TEST_MAIN(TestConsoleText)
#include "tst_consoletext.moc"
