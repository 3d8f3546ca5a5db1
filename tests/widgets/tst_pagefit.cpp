#include "testmain.h"

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
