#include "testmain.h"

#include <QPushButton>
#include <QStackedWidget>

#include "app/mainwindow.h"
#include "app/pagechange.h"
#include "common/stages.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"
#include "quiettools.h"

// The named numbers must index the stacks the forms and the main window build.
class TestStages : public QObject
{
    Q_OBJECT

    QuietPackageTools tools;

    static QWidget* pageOf(QWidget* parent, const char* stack, int index)
    {
        auto* widgets = parent->findChild<QStackedWidget*>(stack);
        return widgets ? widgets->widget(index) : nullptr;
    }

    static bool is(QWidget* widget, const char* className) { return widget && widget->inherits(className); }

private slots:
    void wizardPages()
    {
        MainWindow w;
        QCOMPARE(w.findChild<QStackedWidget*>("content")->count(), 3);
        QVERIFY(is(pageOf(&w, "content", toInt(WizardPage::Chooser)), "ChoosePC"));
        QVERIFY(is(pageOf(&w, "content", toInt(WizardPage::Receiver)), "NewPCConnectPage"));
        QVERIFY(is(pageOf(&w, "content", toInt(WizardPage::Sender)), "OldPCConnectPage"));
    }

    void bottomBars()
    {
        MainWindow w;
        QCOMPARE(w.findChild<QStackedWidget*>("bottomContent")->count(), 3);
        const auto barHolds = [&w](BottomBar bar, const char* button) {
            QWidget* page = pageOf(&w, "bottomContent", toInt(bar));
            return page && page->findChild<QPushButton*>(button);
        };
        QVERIFY(barHolds(BottomBar::Next, "nextBtn"));
        QVERIFY(barHolds(BottomBar::Back, "backBtn"));
        QVERIFY(barHolds(BottomBar::Finished, "homeBtn"));
        QVERIFY(barHolds(BottomBar::Finished, "transferAgainBtn"));
        QVERIFY(!barHolds(BottomBar::Back, "nextBtn"));
    }

    void receiverView()
    {
        NewPCConnectPage page;
        QCOMPARE(page.findChild<QStackedWidget*>("view")->count(), 4);
        QVERIFY(is(pageOf(&page, "view", toInt(ReceiverView::Waiting)), "NewPCView"));
        QVERIFY(is(pageOf(&page, "view", toInt(ReceiverView::Pairing)), "PCPairPage"));
        QVERIFY(is(pageOf(&page, "view", toInt(ReceiverView::Transfer)), "TransferPage"));
        QVERIFY(is(pageOf(&page, "view", toInt(ReceiverView::Report)), "ResultPage"));
    }

    void senderView()
    {
        OldPCConnectPage page;
        QCOMPARE(page.findChild<QStackedWidget*>("stackedWidget")->count(), 5);
        QVERIFY(is(pageOf(&page, "stackedWidget", toInt(SenderView::List)), "OldPCView"));
        QVERIFY(is(pageOf(&page, "stackedWidget", toInt(SenderView::Pairing)), "PCPairPage"));
        QVERIFY(is(pageOf(&page, "stackedWidget", toInt(SenderView::Selection)), "SelectDataView"));
        QVERIFY(is(pageOf(&page, "stackedWidget", toInt(SenderView::Transfer)), "TransferPage"));
        QVERIFY(is(pageOf(&page, "stackedWidget", toInt(SenderView::Report)), "ResultPage"));
    }

    // Stage n lights steps 1 to n, so the stages must come in the order the indicator shows them.
    void stagesInOrder()
    {
        QCOMPARE(toInt(Stage::Pairing), 1);
        QVERIFY(toInt(Stage::Pairing) < toInt(Stage::Selection));
        QVERIFY(toInt(Stage::Selection) < toInt(Stage::Transfer));
        QVERIFY(toInt(Stage::Transfer) < toInt(Stage::Done));
        QCOMPARE(toInt(Stage::Done), 4);
    }
};

MOVANTA_TEST_MAIN(TestStages)
#include "tst_stages.moc"
