#include <set>

#include <QLabel>
#include <QMovie>
#include <QSignalSpy>

#include "connect/pcpairpage.h"
#include "testmain.h"

Q_DECLARE_METATYPE(QList<int>)

class TestPCPairPage : public QObject
{
    Q_OBJECT

private:
    static QString boxText(PCPairPage& page, int i)
    {
        return page.findChild<QLabel*>(QString("p%1").arg(i + 1))->text();
    }
    static QString prompt(PCPairPage& page) { return page.findChild<QLabel*>("label")->text(); }

private slots:
    void receiverCodeIsSixDigits()
    {
        PCPairPage page;
        page.setForNewPC();
        const QString code = page.code();
        QCOMPARE(code.size(), 6);
        for (int i = 0; i < 6; ++i) {
            QVERIFY(code.at(i).isDigit());
            QCOMPARE(boxText(page, i), QString(code.at(i)));
        }
        QCOMPARE(prompt(page), QString("请在旧电脑输入配对码"));
    }

    // Unpredictable: pages built in the same second do not share a code (one in a million would).
    void receiverCodesDiffer()
    {
        std::set<QString> codes;
        for (int i = 0; i < 20; ++i) {
            PCPairPage page;
            page.setForNewPC();
            codes.insert(page.code());
        }
        QVERIFY(codes.size() >= 19);
    }

    void codeKeepsLeadingZeros()
    {
        PCPairPage page;
        page.code("007123");
        QCOMPARE(page.code(), QString("007123"));
        QCOMPARE(boxText(page, 0), QString("0"));
    }

    void shortCodeEmptiesTheBoxes()
    {
        PCPairPage page;
        page.code("123456");
        page.code("12345");
        QCOMPARE(page.code(), QString());
    }

    void senderSetup()
    {
        PCPairPage page;
        page.code("123456");
        page.setForOldPC();
        QCOMPARE(page.code(), QString());
        QCOMPARE(prompt(page), QString("请输入新电脑的配对码"));
        QCOMPARE(page.findChild<QLabel*>("label_2")->text(), QString("等待连接"));
        QMovie* loading = page.findChild<QLabel*>("label_3")->movie();
        QVERIFY(QFile::exists(":/icons/icons/loading.gif"));
        QVERIFY(loading);
        QVERIFY(loading->state() == QMovie::Running);
    }

    void keys_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("offered");

        const int B = Qt::Key_Backspace;
        QTest::newRow("six digits offer the code") << QList<int> {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5,
            Qt::Key_6} << "123456" << QStringList {"123456"};
        QTest::newRow("five digits offer nothing")
            << QList<int> {Qt::Key_0, Qt::Key_0, Qt::Key_7, Qt::Key_1, Qt::Key_2} << "00712" << QStringList {};
        QTest::newRow("a seventh digit does nothing")
            << QList<int> {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5, Qt::Key_6, Qt::Key_7} << "123456"
            << QStringList {"123456"};
        QTest::newRow("backspace then a digit offers again") << QList<int> {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4,
            Qt::Key_5, Qt::Key_6, B, Qt::Key_9} << "123459" << QStringList {"123456", "123459"};
        QTest::newRow("backspace with no digit does nothing") << QList<int> {B, B, Qt::Key_4} << "4" << QStringList {};
        QTest::newRow("letters are ignored")
            << QList<int> {Qt::Key_A, Qt::Key_1, Qt::Key_Z, Qt::Key_Space} << "1" << QStringList {};
        QTest::newRow("backspace erases the last digit")
            << QList<int> {Qt::Key_1, Qt::Key_2, Qt::Key_3, B, B, Qt::Key_8} << "18" << QStringList {};
        QTest::newRow("erasing everything and typing anew")
            << QList<int> {Qt::Key_5, B, B, Qt::Key_0, Qt::Key_0, Qt::Key_0, Qt::Key_0, Qt::Key_0, Qt::Key_1}
            << "000001" << QStringList {"000001"};
    }

    void keys()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, shown);
        QFETCH(QStringList, offered);
        PCPairPage page;
        page.setForOldPC();
        QSignalSpy ready(&page, &PCPairPage::codeReady);
        for (int key : keys) {
            QTest::keyClick(&page, static_cast<Qt::Key>(key));
        }
        QCOMPARE(page.code(), shown);
        QStringList got;
        for (const QList<QVariant>& args : ready) {
            got << args.at(0).toString();
        }
        QCOMPARE(got, offered);
    }

    void keypadDigitsCount()
    {
        PCPairPage page;
        page.setForOldPC();
        QSignalSpy ready(&page, &PCPairPage::codeReady);
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(&page, Qt::Key_3, Qt::KeypadModifier);
        }
        QCOMPARE(ready.count(), 1);
        QCOMPARE(ready.at(0).at(0).toString(), QString("333333"));
    }

    // The receiver accepts the code it drew; typing on its page must not change what the user reads out.
    void receiverPageIgnoresKeys()
    {
        PCPairPage page;
        page.setForNewPC();
        const QString drawn = page.code();
        QSignalSpy ready(&page, &PCPairPage::codeReady);
        QTest::keyClicks(&page, "123456");
        QCOMPARE(page.code(), drawn);
        QTest::keyClick(&page, Qt::Key_Backspace);
        QTest::keyClick(&page, Qt::Key_Backspace);
        QCOMPARE(page.code(), drawn);
        QTest::keyClick(&page, Qt::Key_7, Qt::KeypadModifier);
        QCOMPARE(page.code(), drawn);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(boxText(page, i), QString(drawn.at(i)));
        }
        QCOMPARE(ready.count(), 0);
    }

    void senderSetupRestartsTheCount()
    {
        PCPairPage page;
        page.setForOldPC();
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(&page, Qt::Key_2);
        }
        page.setForOldPC();
        QSignalSpy ready(&page, &PCPairPage::codeReady);
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(&page, Qt::Key_9);
        }
        QCOMPARE(ready.count(), 1);
        QCOMPARE(page.code(), QString("999999"));
    }
};

MOVANTA_TEST_MAIN(TestPCPairPage)
#include "tst_pcpairpage.moc"
