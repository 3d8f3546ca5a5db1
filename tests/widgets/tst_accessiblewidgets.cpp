#include "testmain.h"

#include <QAccessible>
#include <QLabel>
#include <QVBoxLayout>

#include "common/widgets/circularprogressbar.h"
#include "common/widgets/cloneprogresswidget.h"

namespace {

QString accessible(QWidget* widget, QAccessible::Text which)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(which) : QString();
}

} // namespace

class TestAccessibleWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QAccessible::setActive(true); }

    void ringTellsItsValue()
    {
        CircularProgressBar ring;
        QCOMPARE(accessible(&ring, QAccessible::Name), QStringLiteral("进度"));
        QCOMPARE(accessible(&ring, QAccessible::Description), QStringLiteral("0%"));
        ring.setProgress(42);
        QCOMPARE(ring.progress, 42);
        QCOMPARE(accessible(&ring, QAccessible::Description), QStringLiteral("42%"));

        // An owner that writes the field and repaints is heard too.
        ring.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ring));
        ring.progress = 7;
        ring.update();
        QTRY_COMPARE(accessible(&ring, QAccessible::Description), QStringLiteral("7%"));
    }

    void stepIndicatorTellsTheStage()
    {
        CloneProgressWidget steps;
        QVERIFY(accessible(&steps, QAccessible::Description).contains(QStringLiteral("配对连接")));
        steps.setProgress(3);
        QVERIFY(accessible(&steps, QAccessible::Description).contains(QStringLiteral("迁移数据")));
        steps.setProgress(9);
        QVERIFY(accessible(&steps, QAccessible::Description).contains(QStringLiteral("迁移数据")));
    }

    void stepIconsStayRound_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("receiver, tight") << 760 << 70;
        QTest::newRow("receiver") << 760 << 96;
        QTest::newRow("receiver, tall") << 760 << 160;
        QTest::newRow("sender, tight") << 1100 << 70;
        QTest::newRow("sender") << 1100 << 96;
        QTest::newRow("sender, tall") << 1100 << 160;
    }

    void stepIconsStayRound()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* steps = new CloneProgressWidget(&window);
        layout->addWidget(steps);
        window.resize(width, height);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int stage = 1; stage <= 4; ++stage) {
            const QLabel* icon = steps->findChild<QLabel*>(QString("iconLabel_%1").arg(stage));
            QVERIFY(icon);
            QVERIFY(icon->isVisible());
            QCOMPARE(icon->width(), icon->height());
            QVERIFY(icon->width() >= 40 && icon->width() <= 60);
        }
    }
};

MOVANTA_TEST_MAIN(TestAccessibleWidgets)
#include "tst_accessiblewidgets.moc"
