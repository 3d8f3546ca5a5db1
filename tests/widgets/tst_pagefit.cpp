#include "testmain.h"

#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "common/widgets/pagefit.h"

class TestPageFit : public QObject
{
    Q_OBJECT

private slots:
    void stackAsksForTheCurrentPageOnly()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* stack = new QStackedWidget;
        layout->addWidget(stack);
        // Pages get their minimum from their contents, as the wizard's pages do.
        auto pageNeeding = [](int width, int height) {
            auto* page = new QWidget;
            auto* pageLayout = new QVBoxLayout(page);
            auto* content = new QWidget;
            content->setMinimumSize(width, height);
            pageLayout->addWidget(content);
            return page;
        };
        stack->addWidget(pageNeeding(200, 100));
        stack->addWidget(pageNeeding(900, 600));

        fitStackToCurrentPage(stack);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QVERIFY(stack->minimumSizeHint().width() < 900);
        QTRY_VERIFY(window.width() < 900);

        stack->setCurrentIndex(1);
        QTRY_VERIFY(window.width() >= 900);
        QVERIFY(window.height() >= 600);

        stack->setCurrentIndex(0);
        QTRY_VERIFY(window.width() < 900);
        QVERIFY(window.height() < 600);
    }

    // Taller than two thirds of the screen, where adjustSize() would stop: the window takes it all, up to the
    // screen's available height, and stays on the screen.
    void windowTakesUpToTheScreensHeight_data()
    {
        QTest::addColumn<double>("screens");
        QTest::newRow("nine tenths of the screen") << 0.9;
        QTest::newRow("twice the screen") << 2.0;
    }
    void windowTakesUpToTheScreensHeight()
    {
        QFETCH(double, screens);
        QWidget window;
        const QRect available = window.screen()->availableGeometry();
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* stack = new QStackedWidget;
        layout->addWidget(stack);
        auto* small = new QWidget;
        small->setMinimumSize(100, 100);
        auto* tall = new QWidget;
        tall->setMinimumSize(200, 50);
        // Asks for the height without insisting on it, as a scroll area does.
        class Tall : public QWidget
        {
        public:
            int wanted = 0;
            QSize sizeHint() const override { return QSize(200, wanted); }
        };
        auto* page = new Tall;
        page->wanted = int(available.height() * screens);
        stack->addWidget(small);
        stack->addWidget(page);
        fitStackToCurrentPage(stack);
        window.move(available.topLeft() + QPoint(10, available.height() / 3));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        stack->setCurrentIndex(1);
        // The window system's frame, if it draws one, takes its share of the screen.
        const int frame = window.frameGeometry().height() - window.geometry().height();
        const int expected = std::min(page->wanted, available.height() - frame);
        QTRY_COMPARE(window.height(), expected);
        QVERIFY(window.height() > available.height() * 2 / 3);
        QTRY_VERIFY2(available.contains(window.frameGeometry()),
            qPrintable(QString("%1,%2 %3x%4")
                           .arg(window.frameGeometry().x())
                           .arg(window.frameGeometry().y())
                           .arg(window.frameGeometry().width())
                           .arg(window.frameGeometry().height())));

        stack->setCurrentIndex(0);
        QTRY_VERIFY(window.height() < 200);
        delete tall;
    }

    void pagesKeepTheirOwnPolicyWhenCurrent()
    {
        QStackedWidget stack;
        auto* first = new QWidget;
        first->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        auto* second = new QWidget;
        stack.addWidget(first);
        stack.addWidget(second);
        fitStackToCurrentPage(&stack);

        QCOMPARE(first->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(second->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
        stack.setCurrentIndex(1);
        QCOMPARE(first->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
        QCOMPARE(second->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        stack.setCurrentIndex(0);
        QCOMPARE(first->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(first->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    }
};

MOVANTA_TEST_MAIN(TestPageFit)
#include "tst_pagefit.moc"
