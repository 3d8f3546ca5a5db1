#include "testmain.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>

#include <cerrno>
#include <cstdio>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/choosepc.h"
#include "app/mainwindow.h"
#include "childrun.h"
#include "quiettools.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"

namespace {

QMessageBox* openMessageBox()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}

// What the window looked like while the message box was open.
struct BoxSeen
{
    bool seen = false;
    QString title;
    QString text;
    QStringList buttons;
    bool modal = false;
    bool hasParent = true;
    int barWhileOpen = -1;
    bool bottomVisibleWhileOpen = false;
};

} // namespace

// The receiver page listens on this port exactly while it is loaded.
bool receiverPortInUse()
{
    struct Fd
    {
        int fd;
        ~Fd()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } probe {::socket(AF_INET, SOCK_STREAM, 0)};
    if (probe.fd < 0)
        return false;
    // With SO_REUSEADDR only a socket still bound to the port keeps us out, not old connections.
    int one = 1;
    ::setsockopt(probe.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(4399);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(probe.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
}

class TestMainWindow : public QObject
{
    Q_OBJECT

    QuietPackageTools tools;

    QStackedWidget* content(MainWindow& w) { return w.findChild<QStackedWidget*>("content"); }
    QStackedWidget* bottom(MainWindow& w) { return w.findChild<QStackedWidget*>("bottomContent"); }
    QPushButton* button(MainWindow& w, const char* name) { return w.findChild<QPushButton*>(name); }

    void show(MainWindow& w)
    {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }

    // Clicks a card the way a user does: a press on the chooser inside the card.
    void chooseRole(MainWindow& w, int role)
    {
        auto* chooser = w.findChild<ChoosePC*>("choosePC");
        QWidget* card = chooser->findChild<QWidget*>(role == 0 ? "pcwidget" : "oldpcwidget");
        QTest::mouseClick(chooser, Qt::LeftButton, {}, card->geometry().center());
    }

    void click(MainWindow& w, const char* name)
    {
        QPushButton* b = button(w, name);
        QVERIFY2(b, name);
        QVERIFY2(b->isVisible(), name);
        QVERIFY2(b->isEnabled(), name);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    // Watches for the message box, records the window's state while it is open and presses its button.
    void closeBoxWhenItOpens(MainWindow& w, BoxSeen& seen)
    {
        auto* poll = new QTimer(&w);
        poll->setInterval(10);
        connect(poll, &QTimer::timeout, &w, [this, &w, &seen, poll] {
            QMessageBox* box = openMessageBox();
            if (!box)
                return;
            poll->stop();
            poll->deleteLater();
            seen.seen = true;
            seen.title = box->windowTitle();
            seen.text = box->text();
            for (QAbstractButton* b : box->buttons())
                seen.buttons << b->text();
            seen.modal = box->isModal();
            seen.hasParent = box->parentWidget() != nullptr;
            seen.barWhileOpen = bottom(w)->currentIndex();
            seen.bottomVisibleWhileOpen = bottom(w)->isVisible();
            box->buttons().value(0)->click();
        });
        poll->start();
    }

private slots:
    void windowAndStartState()
    {
        MainWindow w;
        QCOMPARE(int(w.windowFlags() & ~Qt::WindowType_Mask), int(Qt::FramelessWindowHint));
        QCOMPARE(w.windowTitle(), QString("Movanta"));
        QVERIFY(!w.windowIcon().isNull());
        // Both ways to the background resolve to a real picture.
        QVERIFY(!QImage(":/icons/background.png").isNull());
        QCOMPARE(QImage(":/icons/background.png"), QImage(":/icons/icons/background.png"));

        QCOMPARE(content(w)->count(), 3);
        QVERIFY(qobject_cast<ChoosePC*>(content(w)->widget(0)));
        QVERIFY(qobject_cast<NewPCConnectPage*>(content(w)->widget(1)));
        QVERIFY(qobject_cast<OldPCConnectPage*>(content(w)->widget(2)));
        QCOMPARE(content(w)->currentIndex(), 0);
        QCOMPARE(bottom(w)->count(), 3);
        QCOMPARE(bottom(w)->currentIndex(), 0);

        QCOMPARE(button(w, "nextBtn")->text(), QString("下一步 "));
        QVERIFY(!button(w, "nextBtn")->isEnabled());
        QCOMPARE(w.findChild<QLabel*>("bottomLabel")->text(), QString("选择角色后点击下一步继续 "));
        QCOMPARE(button(w, "backBtn")->text(), QString("上一步"));
        QCOMPARE(button(w, "homeBtn")->text(), QString("主页"));
        QCOMPARE(button(w, "transferAgainBtn")->text(), QString("继续传输"));
        QCOMPARE(button(w, "exitBtn")->text(), QString("退出"));
    }

    void windowIsPaintedWithTheBackground()
    {
        MainWindow w;
        show(w);
        const QImage shot = w.grab().toImage();
        // A point left of the cards, in the chooser's free area, shows the light background, not the
        // default grey of an unstyled window.
        auto* chooser = w.findChild<ChoosePC*>("choosePC");
        const QPoint free = chooser->mapTo(&w, QPoint(2, chooser->height() / 2));
        const QColor c = shot.pixelColor(free);
        QVERIFY2(c.blue() > c.red() && c.lightness() > 225, qPrintable(c.name()));
    }

    void choosingARoleEnablesNext_data()
    {
        QTest::addColumn<int>("role");
        QTest::newRow("receiver") << 0;
        QTest::newRow("sender") << 1;
    }
    void choosingARoleEnablesNext()
    {
        QFETCH(int, role);
        MainWindow w;
        show(w);
        chooseRole(w, role);
        QVERIFY(button(w, "nextBtn")->isEnabled());
    }

    void nextAndBack_data()
    {
        QTest::addColumn<int>("role");
        QTest::newRow("receiver goes to page 1") << 0;
        QTest::newRow("sender goes to page 2") << 1;
    }
    void nextAndBack()
    {
        QFETCH(int, role);
        MainWindow w;
        show(w);
        chooseRole(w, role);
        click(w, "nextBtn");
        QCOMPARE(content(w)->currentIndex(), role + 1);
        QCOMPARE(bottom(w)->currentIndex(), 1);
        QVERIFY(button(w, "backBtn")->isVisible());
        QVERIFY(!button(w, "nextBtn")->isVisible());

        click(w, "backBtn");
        QCOMPARE(content(w)->currentIndex(), 0);
        QCOMPARE(bottom(w)->currentIndex(), 0);
        QVERIFY(button(w, "nextBtn")->isVisible());
        // The role stays chosen: Next still leads to the same page.
        QVERIFY(button(w, "nextBtn")->isEnabled());
        click(w, "nextBtn");
        QCOMPARE(content(w)->currentIndex(), role + 1);
    }

    // Load() and Unload() seen from outside: the receiver page's server holds the port while loaded.
    void receiverPageRunsExactlyWhileCurrent()
    {
        MainWindow w;
        show(w);
        QVERIFY(!receiverPortInUse());
        chooseRole(w, 0);
        QVERIFY(!receiverPortInUse());
        click(w, "nextBtn");
        QTRY_VERIFY(receiverPortInUse());
        click(w, "backBtn");
        QTRY_VERIFY(!receiverPortInUse());
        // Loading again works, and Home after the end unloads it too.
        click(w, "nextBtn");
        QTRY_VERIFY(receiverPortInUse());
        w.done(0);
        click(w, "homeBtn");
        QTRY_VERIFY(!receiverPortInUse());
        // The sender page never starts the receiver's server.
        chooseRole(w, 1);
        click(w, "nextBtn");
        QCOMPARE(content(w)->currentIndex(), 2);
        QTest::qWait(50);
        QVERIFY(!receiverPortInUse());
        click(w, "backBtn");
    }

    void changingTheRoleOnTheWayBack()
    {
        MainWindow w;
        show(w);
        chooseRole(w, 1);
        click(w, "nextBtn");
        click(w, "backBtn");
        chooseRole(w, 0);
        click(w, "nextBtn");
        QCOMPARE(content(w)->currentIndex(), 1);
        click(w, "backBtn");
        QCOMPARE(content(w)->currentIndex(), 0);
    }

    void done_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("box");
        QTest::addColumn<bool>("again");
        QTest::newRow("receiver finished") << 0 << 0 << false << false;
        QTest::newRow("receiver lost the connection") << 0 << 1 << true << false;
        QTest::newRow("sender lost the connection") << 1 << 1 << true << false;
        QTest::newRow("sender finished") << 1 << 2 << false << true;
    }
    void done()
    {
        QFETCH(int, role);
        QFETCH(int, code);
        QFETCH(bool, box);
        QFETCH(bool, again);
        MainWindow w;
        show(w);
        chooseRole(w, role);
        click(w, "nextBtn");

        BoxSeen seen;
        closeBoxWhenItOpens(w, seen);
        QWidget* page = content(w)->currentWidget();
        if (role == 0)
            emit static_cast<NewPCConnectPage*>(page)->Done(code);
        else
            emit static_cast<OldPCConnectPage*>(page)->Done(code);

        QTRY_COMPARE(bottom(w)->currentIndex(), 2);
        QVERIFY(bottom(w)->isVisible());
        QVERIFY(button(w, "homeBtn")->isVisible());
        QVERIFY(button(w, "exitBtn")->isVisible());
        QCOMPARE(button(w, "transferAgainBtn")->isVisible(), again);
        QCOMPARE(content(w)->currentIndex(), role + 1);
        if (!box) {
            // Give a box that should not exist every chance to show up.
            QTest::qWait(100);
            QVERIFY(!seen.seen);
            return;
        }
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QString("提示"));
        QCOMPARE(seen.text, QString("连接断开!"));
        QCOMPARE(seen.buttons, QStringList {"确定"});
        QVERIFY(seen.modal);
        QVERIFY(!seen.hasParent);
    }

    void boxComesBeforeTheEndBar()
    {
        MainWindow w;
        show(w);
        chooseRole(w, 1);
        click(w, "nextBtn");
        BoxSeen seen;
        closeBoxWhenItOpens(w, seen);
        w.done(1);
        // done() returns only after the box was closed.
        QVERIFY(seen.seen);
        QCOMPARE(seen.barWhileOpen, 1);
        QCOMPARE(bottom(w)->currentIndex(), 2);
        QVERIFY(!button(w, "transferAgainBtn")->isVisible());
    }

    void boxComesBeforeTheEndBarEvenWhileHidden()
    {
        MainWindow w;
        show(w);
        chooseRole(w, 0);
        click(w, "nextBtn");
        w.hideBottom();
        BoxSeen seen;
        closeBoxWhenItOpens(w, seen);
        w.done(1);
        QVERIFY(seen.seen);
        QVERIFY(!seen.bottomVisibleWhileOpen);
        QVERIFY(bottom(w)->isVisible());
        QCOMPARE(bottom(w)->currentIndex(), 2);
    }

    void transferAgainOnlyAfterTheSenderFinished()
    {
        MainWindow w;
        show(w);
        chooseRole(w, 1);
        click(w, "nextBtn");
        w.done(2);
        QVERIFY(button(w, "transferAgainBtn")->isVisible());
        w.done(0);
        QVERIFY(!button(w, "transferAgainBtn")->isVisible());
        w.done(2);
        QVERIFY(button(w, "transferAgainBtn")->isVisible());
    }

    void transferAgainLeavesTheEndBarUntilTheTransferStarts()
    {
        MainWindow w;
        show(w);
        chooseRole(w, 1);
        click(w, "nextBtn");
        auto* sender = qobject_cast<OldPCConnectPage*>(content(w)->widget(2));
        sender->lastTarget.name = "receiver-a";
        w.done(2);
        click(w, "transferAgainBtn");
        QCOMPARE(sender->lastTarget.name, std::string("receiver-a"));
        QCOMPARE(content(w)->currentIndex(), 2);
        QVERIFY(bottom(w)->isVisible());
        QCOMPARE(bottom(w)->currentIndex(), 2);
        emit sender->Transfer();
        QVERIFY(bottom(w)->isHidden());
    }

    void homeAfterDone_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("code");
        QTest::newRow("receiver") << 0 << 0;
        QTest::newRow("sender") << 1 << 2;
    }
    void homeAfterDone()
    {
        QFETCH(int, role);
        QFETCH(int, code);
        MainWindow w;
        show(w);
        chooseRole(w, role);
        click(w, "nextBtn");
        w.done(code);
        click(w, "homeBtn");
        QCOMPARE(content(w)->currentIndex(), 0);
        QCOMPARE(bottom(w)->currentIndex(), 0);
        QVERIFY(button(w, "nextBtn")->isEnabled());
        // And the next run goes through the role page again.
        click(w, "nextBtn");
        QCOMPARE(content(w)->currentIndex(), role + 1);
        QCOMPARE(bottom(w)->currentIndex(), 1);
    }

    void hideBottomAndShowAgain_data()
    {
        QTest::addColumn<int>("role");
        QTest::newRow("receiver transfer") << 0;
        QTest::newRow("sender transfer") << 1;
    }
    void hideBottomAndShowAgain()
    {
        QFETCH(int, role);
        MainWindow w;
        show(w);
        chooseRole(w, role);
        click(w, "nextBtn");
        QWidget* page = content(w)->currentWidget();
        if (role == 0)
            emit static_cast<NewPCConnectPage*>(page)->Transfer();
        else
            emit static_cast<OldPCConnectPage*>(page)->Transfer();
        QVERIFY(bottom(w)->isHidden());
        // Only a page change brings it back.
        content(w)->setCurrentIndex(0);
        QVERIFY(!bottom(w)->isHidden());
        QCOMPARE(bottom(w)->currentIndex(), 0);
    }

    void signalsFromWorkerThreadsAreQueued()
    {
        MainWindow w;
        show(w);
        chooseRole(w, 1);
        click(w, "nextBtn");
        auto* sender = qobject_cast<OldPCConnectPage*>(content(w)->widget(2));
        QThread* worker = QThread::create([sender] {
            emit sender->Transfer();
            emit sender->Done(2);
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        // Nothing has reached the widgets before the GUI thread's loop runs.
        QVERIFY(bottom(w)->isVisible());
        QCOMPARE(bottom(w)->currentIndex(), 1);
        QTRY_COMPARE(bottom(w)->currentIndex(), 2);
        QVERIFY(bottom(w)->isVisible());
        QVERIFY(button(w, "transferAgainBtn")->isVisible());
    }

    void exitEndsTheProcessAtOnce()
    {
        const ChildResult r = runChild(QCoreApplication::applicationFilePath(), "childClicksExit");
        QVERIFY(r.finished);
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
        QVERIFY2(r.output.contains("clicking exit"), qPrintable(r.output));
        // The test function never got to finish, so QtTest printed no verdict for it.
        QVERIFY2(!r.output.contains("still running"), qPrintable(r.output));
        QVERIFY2(!r.output.contains("Totals:"), qPrintable(r.output));
    }

    void childClicksExit()
    {
        if (!isChild())
            QSKIP("runs in the child process of exitEndsTheProcessAtOnce");
        MainWindow w;
        show(w);
        chooseRole(w, 1);
        click(w, "nextBtn");
        w.done(2);
        std::printf("clicking exit\n");
        click(w, "exitBtn");
        std::printf("still running\n");
        QFAIL("the process survived the exit button");
    }
};

MOVANTA_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
