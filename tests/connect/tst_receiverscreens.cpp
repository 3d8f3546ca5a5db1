#include <cstdlib>
#include <memory>

#include <sched.h>
#include <sys/mount.h>

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>

#include "app/mainwindow.h"
#include "connect/newpcconnectpage.h"
#include "connect/pcpairpage.h"
#include "scriptedsender.h"
#include "testmain.h"

// The receiver's pages inside the real wizard window at its own size: everything that matters is on
// screen, not cut off. With MOVANTA_SCREENSHOT_DIR set, each state is also saved as a picture.
class TestReceiverScreens : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir home;
    std::unique_ptr<MainWindow> window;
    ScriptedSender sender;

    NewPCConnectPage* page() const { return window->findChild<NewPCConnectPage*>(); }
    QWidget* viewPage(const char* name) const { return page()->findChild<QWidget*>(name); }
    QStackedWidget* view() const { return page()->findChild<QStackedWidget*>("view"); }

    // The widget is shown and lies wholly inside the window.
    void onScreen(QWidget* w)
    {
        QVERIFY(w);
        QVERIFY2(w->isVisible(), qPrintable(w->objectName()));
        const QRect r(w->mapTo(window.get(), QPoint(0, 0)), w->size());
        QVERIFY2(window->rect().contains(r), qPrintable(w->objectName() + " is cut off"));
        QVERIFY2(w->width() > 0 && w->height() > 0, qPrintable(w->objectName()));
    }

    // A label shows its whole text in its current font.
    void textFits(QLabel* label)
    {
        onScreen(label);
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        QVERIFY2(needed <= label->contentsRect().width(),
            qPrintable(QString("%1 needs %2 px, has %3")
                           .arg(label->objectName())
                           .arg(needed)
                           .arg(label->contentsRect().width())));
    }

    void save(const char* name)
    {
        QApplication::processEvents();
        const QByteArray dir = qgetenv("MOVANTA_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            QVERIFY(window->grab().save(QString::fromLocal8Bit(dir) + "/" + name));
        }
    }

private slots:
    void initTestCase()
    {
        // In a mount namespace of its own the test can show a home such as a user would have.
        QString homePath = home.path();
        if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && ::mount("tmpfs", "/home", "tmpfs", 0, "size=16m") == 0 && QDir().mkpath("/home/lin")) {
            homePath = "/home/lin";
        }
        ::setenv("HOME", homePath.toUtf8().constData(), 1);
        window = std::make_unique<MainWindow>();
        // The pictures show the receiver at the smallest window it needs, whatever the sender page asks.
        window->findChild<QStackedWidget*>("content")->widget(2)->setSizePolicy(
            QSizePolicy::Ignored, QSizePolicy::Ignored);
        window->resize(640, 388);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->pcTypeChanged(0);
        QTest::mouseClick(window->findChild<QPushButton*>("nextBtn"), Qt::LeftButton);
        QTRY_COMPARE(window->findChild<QStackedWidget*>("content")->currentIndex(), 1);
    }

    void cleanupTestCase()
    {
        sender.close();
        window.reset();
    }

    void waiting()
    {
        QCOMPARE(view()->currentIndex(), 0);
        QTRY_VERIFY(window->isVisible());
        textFits(viewPage("page")->findChild<QLabel*>("label"));
        textFits(viewPage("page")->findChild<QLabel*>("label_3"));
        onScreen(viewPage("page")->findChild<QLabel*>("label_2"));
        textFits(page()->findChild<QLabel*>("discoveryTip"));
        textFits(page()->findChild<QLabel*>("ipLabel"));
        QCOMPARE(page()->findChild<QLabel*>("ipLabel")->text(), QString("127.0.0.1"));
        save("receiver-waiting.png");
    }

    void code()
    {
        QVERIFY(sender.connectTo());
        QTRY_COMPARE(view()->currentIndex(), 1);
        auto* pair = page()->findChild<PCPairPage*>("page_2");
        for (int i = 1; i <= 6; ++i) {
            auto* box = pair->findChild<QLabel*>(QString("p%1").arg(i));
            textFits(box);
            QCOMPARE(box->text().size(), 1);
        }
        textFits(pair->findChild<QLabel*>("label"));
        textFits(pair->findChild<QLabel*>("label_2"));
        save("receiver-code.png");
    }

    void transferring()
    {
        QCOMPARE(sender.pair(page()->findChild<PCPairPage*>("page_2")->code().toStdString()), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(sender.readFreeSpace(total, free));
        QVERIFY(sender.sendTransferHeader(2, 10240));
        QCOMPARE(sender.sendFile("/home/alice/图片/2026/旅行/海边.jpg", 11, std::string(6144, 'x')), 0);
        // The second file announced, then a pause: the page is caught mid-run.
        QVERIFY(sender.send(ScriptedSender::fileHeader("/home/alice/文档/年度报告.pdf", 11, 4096)));
        QTRY_COMPARE(view()->currentIndex(), 2);
        auto* bar = page()->findChild<QProgressBar*>("progressBar");
        QTRY_COMPARE(bar->value(), 60);
        QTRY_VERIFY(page()->findChild<QLabel*>("currentFile")->text().endsWith("年度报告.pdf"));
        onScreen(bar);
        textFits(page()->findChild<QLabel*>("currentWork"));
        textFits(page()->findChild<QLabel*>("currentFile"));
        onScreen(viewPage("page_3")->findChild<QLabel*>("label"));
        onScreen(viewPage("page_3")->findChild<QLabel*>("label_2"));
        onScreen(page()->findChild<QLabel*>("loadingDots"));
        textFits(page()->findChild<QLabel*>("label_5"));
        textFits(page()->findChild<QLabel*>("label_6"));
        // Counted from the header and the files as they came.
        QTRY_COMPARE(page()->findChild<QLabel*>("bytesL")->text(), QString("6 KB / 10 KB"));
        QTRY_COMPARE(page()->findChild<QLabel*>("filesL")->text(), QString("1 / 2 个文件"));
        for (const char* name : {"filesL", "bytesL", "speedL", "timeLeftL"}) {
            textFits(page()->findChild<QLabel*>(name));
        }
        save("receiver-transfer.png");

        for (int i = 0; i < 4; ++i) {
            QVERIFY(sender.send(std::string(1024, 'y')));
        }
        QCOMPARE(sender.recv(1), std::string(1, '\0'));
    }

    void finished()
    {
        QVERIFY(sender.finishWithoutApps());
        QVERIFY(sender.waitClosed());
        QTRY_COMPARE(page()->findChild<QLabel*>("currentWork")->text(), QString("迁移完成，请在旧电脑上查看报告"));
        QTRY_VERIFY(window->findChild<QPushButton*>("homeBtn")->isVisible());
        textFits(page()->findChild<QLabel*>("currentWork"));
        QCOMPARE(page()->findChild<QProgressBar*>("progressBar")->value(), 100);
        QTRY_COMPARE(page()->findChild<QLabel*>("filesL")->text(), QString("2 / 2 个文件"));
        QCOMPARE(page()->findChild<QLabel*>("bytesL")->text(), QString("10 KB / 10 KB"));
        QVERIFY(page()->findChild<QLabel*>("speedL")->text().startsWith("平均速度 "));
        textFits(page()->findChild<QLabel*>("speedL"));
        QVERIFY(page()->findChild<QLabel*>("timeLeftL")->isHidden());
        save("receiver-done.png");
    }
};

MOVANTA_TEST_MAIN(TestReceiverScreens)
#include "tst_receiverscreens.moc"
