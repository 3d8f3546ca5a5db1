#include "testmain.h"

#include <algorithm>

#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>

#include "app/mainwindow.h"
#include "common/stages.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"
#include "quiettools.h"
#include "report/resultpage.h"

// The real wizard window on every page of both roles: it takes the size its page asks for, up to the
// screen's available area, and the report at that size shows its summary, both tables' first rows and
// its buttons without scrolling.
class TestWindowFit : public QObject
{
    Q_OBJECT

    QuietPackageTools tools;
    QTemporaryDir workDir;
    QString previousDir;

    static QStackedWidget* content(MainWindow& w) { return w.findChild<QStackedWidget*>("content"); }

    static QRect available(QWidget& w) { return w.screen()->availableGeometry(); }

    // The size the window should have now: what it asks for (its text wrapped at that width), within the
    // screen, never below its smallest size.
    static QSize expected(MainWindow& w)
    {
        QSize size = w.sizeHint().expandedTo(w.minimumSizeHint());
        if (w.layout() && w.layout()->hasHeightForWidth())
            size.setHeight(w.layout()->totalHeightForWidth(size.width()));
        return size.boundedTo(available(w).size()).expandedTo(w.minimumSize());
    }

    // As high as it should be; at least as wide (a page may leave the window wider), within the screen.
    static bool sized(MainWindow& w)
    {
        const QSize wanted = expected(w);
        return w.height() == wanted.height() && w.width() >= wanted.width()
            && w.width() <= std::max(available(w).width(), w.minimumWidth());
    }

    // The page change reaches the window through posted layout requests and a zero timer: waits for the
    // window to settle at the size it should have, instead of for any size at least that large (which the
    // previous, larger page already had).
    static void fits(MainWindow& w, const QString& page)
    {
        const bool settled = QTest::qWaitFor(
            [&] {
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                return sized(w);
            },
            10000);
        const QSize wanted = expected(w);
        QVERIFY2(settled,
            qPrintable(QString("%1: window %2x%3, should be %4x%5")
                           .arg(page)
                           .arg(w.width())
                           .arg(w.height())
                           .arg(wanted.width())
                           .arg(wanted.height())));
        // A page whose smallest size is larger than the screen (the selection page on the test's 800x600
        // screen) cannot be wholly on it.
        if (w.minimumSize().boundedTo(available(w).size()) == w.minimumSize()) {
            const QRect frame = w.frameGeometry();
            QVERIFY2(available(w).contains(frame),
                qPrintable(QString("%1 is off the screen: %2,%3 %4x%5")
                               .arg(page)
                               .arg(frame.x())
                               .arg(frame.y())
                               .arg(frame.width())
                               .arg(frame.height())));
        }
    }

    // The widget is shown and lies wholly inside `inside`'s visible area.
    static void shown(QWidget* widget, QWidget* inside)
    {
        QVERIFY(widget);
        QVERIFY2(widget->isVisible(), qPrintable(widget->objectName()));
        const QRect r(widget->mapTo(inside, QPoint(0, 0)), widget->size());
        QVERIFY2(inside->rect().contains(r), qPrintable(widget->objectName() + " is not wholly visible"));
    }

    // Each summary tile has the room its texts need, so none is drawn over another.
    static void tilesNotSqueezed(ResultPage* report)
    {
        for (const char* name : {"widget1", "widget2", "widget3", "widget4"}) {
            auto* tile = report->findChild<QWidget*>(name);
            QVERIFY(tile && tile->layout());
            QVERIFY2(tile->height() >= tile->layout()->minimumSize().height(),
                qPrintable(QString("%1 is %2 high, its texts need %3")
                               .arg(name)
                               .arg(tile->height())
                               .arg(tile->layout()->minimumSize().height())));
            QLabel* above = nullptr;
            for (int i = 0; i < tile->layout()->count(); ++i) {
                auto* label = qobject_cast<QLabel*>(tile->layout()->itemAt(i)->widget());
                if (!label || label->isHidden())
                    continue;
                QVERIFY2(label->height() >= label->sizeHint().height(), qPrintable(label->objectName()));
                if (above)
                    QVERIFY2(!above->geometry().intersects(label->geometry()),
                        qPrintable(above->objectName() + " overlaps " + label->objectName()));
                above = label;
            }
        }
    }

    static void firstRowShown(QTableWidget* table)
    {
        QVERIFY(table->rowCount() > 0);
        const int top = table->rowViewportPosition(0);
        QVERIFY2(top >= 0 && top + table->rowHeight(0) <= table->viewport()->height(),
            qPrintable(QString("%1: first row at %2+%3 in a viewport of %4")
                           .arg(table->objectName())
                           .arg(top)
                           .arg(table->rowHeight(0))
                           .arg(table->viewport()->height())));
    }

    static void fillReport(ResultPage* report)
    {
        report->transferStartTime = std::chrono::system_clock::now() - std::chrono::seconds(90);
        const int results[] = {0, 0, 4, 0, 0, 16, 0, 0, 0, 64};
        int i = 0;
        for (int result : results) {
            report->AddFile(result, "/home/lin/文档/第" + std::to_string(i++) + "份报告.docx", 4096,
                std::chrono::system_clock::now());
        }
        report->UpdatePage();
    }

private slots:
    void initTestCase()
    {
        // The report's files go to the working folder.
        QVERIFY(workDir.isValid());
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir.path()));
    }

    void cleanupTestCase() { QDir::setCurrent(previousDir); }

    void senderPages()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        fits(w, "chooser");
        content(w)->setCurrentIndex(toInt(WizardPage::Sender));
        auto* sender = w.findChild<OldPCConnectPage*>();
        auto* report = sender->findChild<ResultPage*>("page_5");
        fillReport(report);
        // The rows reach the tables queued; the report's size is only known once they are in.
        QTRY_VERIFY(report->findChild<QTableWidget*>("tableWidget")->rowCount() == 3
            && report->findChild<QTableWidget*>("tableWidget_2")->rowCount() == 7);
        QTRY_VERIFY(sender->isVisible());
        for (SenderView view :
            {SenderView::List, SenderView::Pairing, SenderView::Selection, SenderView::Transfer, SenderView::Report}) {
            emit sender->setCurrentIndex(toInt(view));
            fits(w, QString("sender page %1").arg(toInt(view)));
        }

        // The report: all of it at once where the screen has the room; scrolled, never squeezed, where not.
        const bool roomy = w.sizeHint().height() <= available(w).height();
        qInfo("report window %dx%d on a screen of %dx%d", w.width(), w.height(), available(w).width(),
            available(w).height());
        if (roomy) {
            QCOMPARE(report->verticalScrollBar()->maximum(), 0);
        } else {
            QVERIFY(report->verticalScrollBar()->maximum() > 0);
        }
        tilesNotSqueezed(report);
        QWidget* visible = report->viewport();
        report->ensureWidgetVisible(report->findChild<QLabel*>("titleL"));
        if (roomy) {
            for (const char* name : {"widget1", "widget2", "widget3", "widget4", "infoWidget", "fInfoWidget",
                     "checkFailedFilesBtn", "checkFilesBtn", "tableWidget", "tableWidget_2"}) {
                shown(report->findChild<QWidget*>(name), visible);
            }
            shown(w.findChild<QPushButton*>("homeBtn")->parentWidget(), &w);
        }
        firstRowShown(report->findChild<QTableWidget*>("tableWidget"));
        firstRowShown(report->findChild<QTableWidget*>("tableWidget_2"));

        // Back to a small page: the window gives the room back.
        const int reportHeight = w.height();
        emit sender->setCurrentIndex(toInt(SenderView::List));
        QTRY_VERIFY(w.height() < reportHeight);
        fits(w, "sender list again");
    }

    void receiverPages()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        content(w)->setCurrentIndex(toInt(WizardPage::Receiver));
        auto* receiver = w.findChild<NewPCConnectPage*>();
        QTRY_VERIFY(receiver->isVisible());
        for (ReceiverView view : {ReceiverView::Waiting, ReceiverView::Pairing, ReceiverView::Transfer}) {
            emit receiver->setCurrentIndex(toInt(view));
            fits(w, QString("receiver page %1").arg(toInt(view)));
        }
        // The report the receiver's view holds asks for more than any page the receiver shows; the view does
        // not pass that on.
        auto* view = receiver->findChild<QStackedWidget*>("view");
        QVERIFY(view->sizeHint().height() < receiver->findChild<ResultPage*>()->sizeHint().height());
    }

    // The end bar comes and goes with the transfer; the page keeps the room it asked for.
    void endBarKeepsThePagesRoom()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        content(w)->setCurrentIndex(toInt(WizardPage::Sender));
        auto* sender = w.findChild<OldPCConnectPage*>();
        QTRY_VERIFY(sender->isVisible());
        emit sender->setCurrentIndex(toInt(SenderView::Transfer));
        w.hideBottom();
        fits(w, "transfer without the end bar");
        fillReport(sender->findChild<ResultPage*>("page_5"));
        emit sender->setCurrentIndex(toInt(SenderView::Report));
        w.done(toInt(DoneCode::SenderFinished));
        fits(w, "report with the end bar");
    }
};

MOVANTA_TEST_MAIN(TestWindowFit)
#include "tst_windowfit.moc"
