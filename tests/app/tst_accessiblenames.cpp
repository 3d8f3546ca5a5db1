#include "testmain.h"

#include <QAccessible>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/titlebar.h"
#include "connect/pcpairpage.h"
#include "quiettools.h"
#include "select/selectdataview.h"
#include "transfer/transferpage.h"

namespace {

QString accessible(QWidget* widget, QAccessible::Text which)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(which) : QString();
}

} // namespace

class TestAccessibleNames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QAccessible::setActive(true); }

    void titleButtonsAreNamed_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("name");
        QTest::newRow("help") << "helpBtn"
                              << "?"
                              << "帮助";
        QTest::newRow("minimise") << "minBtn"
                                  << "-"
                                  << "最小化";
        QTest::newRow("close") << "closeBtn"
                               << "X"
                               << "关闭";
    }

    void titleButtonsAreNamed()
    {
        QFETCH(QString, button);
        QFETCH(QString, shown);
        QFETCH(QString, name);
        TitleBar bar;
        auto* widget = bar.findChild<QPushButton*>(button);
        QVERIFY(widget);
        QCOMPARE(widget->text(), shown);
        QCOMPARE(accessible(widget, QAccessible::Name), name);
        QVERIFY(!accessible(widget, QAccessible::Description).isEmpty());
    }

    void pairingCodeReadsAsOneCode()
    {
        PCPairPage page;
        page.setForOldPC();
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(accessible(&page, QAccessible::Name), QStringLiteral("配对码"));
        QCOMPARE(accessible(&page, QAccessible::Description), QStringLiteral("请输入新电脑的配对码"));
        page.setFocus();
        QTest::keyClicks(&page, QStringLiteral("407"));
        QCOMPARE(accessible(&page, QAccessible::Description), QStringLiteral("请输入新电脑的配对码：4 0 7"));
        QTest::keyClick(&page, Qt::Key_Backspace);
        QCOMPARE(accessible(&page, QAccessible::Description), QStringLiteral("请输入新电脑的配对码：4 0"));
        // The boxes are not stops of their own.
        for (const QLabel* box : page.findChildren<QLabel*>())
            QCOMPARE(box->focusPolicy(), Qt::NoFocus);

        page.code(QStringLiteral("123456"));
        QCOMPARE(accessible(&page, QAccessible::Description), QStringLiteral("请输入新电脑的配对码：1 2 3 4 5 6"));
    }

    void transferBarTellsItsValue()
    {
        TransferPage page;
        auto* bar = page.findChild<QProgressBar*>(QStringLiteral("progressBar"));
        QVERIFY(bar);
        QVERIFY(!accessible(bar, QAccessible::Name).isEmpty());
        emit page.updateProgress(64);
        QCOMPARE(bar->value(), 64);
        QCOMPARE(accessible(bar, QAccessible::Description), QStringLiteral("64%"));
        emit page.updateProgress(140);
        QCOMPARE(accessible(bar, QAccessible::Description), QStringLiteral("100%"));
    }

    // Qt exposes no text of a label but its name: a figure named after its caption would hide the figure.
    void selectionFiguresReadTheirValues_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("caption");
        QTest::newRow("chosen files") << "selectedFile"
                                      << "已选文件";
        QTest::newRow("space taken") << "spaceTaken"
                                     << "占用空间";
        QTest::newRow("time taken") << "timeTaken"
                                    << "预计耗时";
        QTest::newRow("capacity") << "totalSpaceL"
                                  << "总容量";
        QTest::newRow("used") << "usedL"
                              << "已使用";
        QTest::newRow("free") << "freeL"
                              << "可用空间";
    }

    void selectionFiguresReadTheirValues()
    {
        QFETCH(QString, label);
        QFETCH(QString, caption);
        QuietPackageTools tools;
        SelectDataView page;
        auto* figure = page.findChild<QLabel*>(label);
        QVERIFY(figure);
        figure->setText(QStringLiteral("12 个"));
        QCOMPARE(accessible(figure, QAccessible::Name), QStringLiteral("12 个"));
        QCOMPARE(accessible(figure, QAccessible::Description), caption);
    }
};

MOVANTA_TEST_MAIN(TestAccessibleNames)
#include "tst_accessiblenames.moc"
