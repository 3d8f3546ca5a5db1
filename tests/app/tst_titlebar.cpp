#include "testmain.h"

#include <cstdio>

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/mainwindow.h"
#include "app/titlebar.h"
#include "childrun.h"
#include "quiettools.h"

namespace {

// A stand-in for xdg-open that writes its arguments, one per line, to $MOVANTA_HELP_LOG, then stays open
// as a viewer would, until $MOVANTA_HELP_LOG.close appears (10 s at most).
bool writeFakeXdgOpen(const QString& dir)
{
    QFile script(dir + "/xdg-open");
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(
        "#!/bin/sh\n"
        "exec </dev/null >/dev/null 2>&1\n"
        "{ printf '%s\\n' \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$MOVANTA_HELP_LOG.part\"\n"
        "mv \"$MOVANTA_HELP_LOG.part\" \"$MOVANTA_HELP_LOG\"\n"
        "i=0; while [ $i -lt 100 ] && [ ! -e \"$MOVANTA_HELP_LOG.close\" ]; do sleep 0.1; i=$((i+1)); done\n");
    script.close();
    return script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QStringList readLog(const QString& path)
{
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestTitleBar : public QObject
{
    Q_OBJECT

    QuietPackageTools tools;
    QPointer<TitleBar> bar;

    void send(QEvent::Type type, const QPoint& global, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        const QPointF local = bar->mapFromGlobal(global);
        QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    }
    void press(const QPoint& g, Qt::MouseButton b = Qt::LeftButton) { send(QEvent::MouseButtonPress, g, b, b); }
    void move(const QPoint& g, Qt::MouseButtons held = Qt::LeftButton)
    {
        send(QEvent::MouseMove, g, Qt::NoButton, held);
    }
    void release(const QPoint& g, Qt::MouseButton b = Qt::LeftButton)
    {
        send(QEvent::MouseButtonRelease, g, b, Qt::NoButton);
    }

    void showAt(MainWindow& w, const QPoint& pos)
    {
        w.move(pos);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        bar = w.findChild<TitleBar*>("titleBar");
        QVERIFY(bar);
        QCOMPARE(bar->parentWidget()->parentWidget(), &w);
    }

private slots:
    void form()
    {
        TitleBar t;
        QCOMPARE(t.findChild<QLabel*>("label_2")->text(), QString("Movanta"));
        QCOMPARE(t.findChild<QLabel*>("label_2")->font().family(), QString("Sans Serif"));
        QCOMPARE(t.findChild<QLabel*>("label_2")->font().pointSize(), 16);
        QLabel* logo = t.findChild<QLabel*>("label");
        QVERIFY(logo->hasScaledContents());
        QVERIFY(logo->minimumWidth() >= 60 && logo->maximumWidth() <= 68);
        QCOMPARE(logo->maximumHeight(), 40);
        QLabel* welcome = t.findChild<QLabel*>("label_3");
        QCOMPARE(welcome->text(), QString("<html><head/><body><p>欢迎使用  Movanta</p></body></html>"));
        QCOMPARE(welcome->font().pointSize(), 18);
        QCOMPARE(welcome->font().weight(), 75);
        QCOMPARE(t.findChild<QLabel*>("label_4")->text(), QString("Movanta可以帮助您轻松地将数据从旧电脑迁移到新电脑"));
        for (auto [name, text] : {std::pair {"helpBtn", "?"}, std::pair {"minBtn", "-"}, std::pair {"closeBtn", "X"}}) {
            QPushButton* b = t.findChild<QPushButton*>(name);
            QVERIFY2(b, name);
            QCOMPARE(b->text(), QString(text));
            QVERIFY(b->minimumWidth() >= 40);
        }
    }

    void drag_data()
    {
        // Each step: press (p), move (m) or release (r) at an offset from the start, with a button.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QPoint>("moved");
        QTest::newRow("left drag moves by the displacement") << "pL0,0 m30,20" << QPoint(30, 20);
        QTest::newRow("steps add up") << "pL0,0 m10,5 m25,-5 m40,12" << QPoint(40, 12);
        QTest::newRow("right drag does not move") << "pR0,0 m30,20" << QPoint(0, 0);
        QTest::newRow("middle drag does not move") << "pM0,0 m30,20" << QPoint(0, 0);
        QTest::newRow("no move after release") << "pL0,0 m10,10 r10,10 m60,60" << QPoint(10, 10);
        QTest::newRow("move without press does nothing") << "m50,50" << QPoint(0, 0);
        QTest::newRow("right then left counts from the left press") << "pR0,0 m20,20 pL100,0 m130,10" << QPoint(30, 10);
        QTest::newRow("a right press ends a left drag") << "pL0,0 m5,5 pR5,5 m50,50" << QPoint(5, 5);
    }
    void drag()
    {
        QFETCH(QString, steps);
        QFETCH(QPoint, moved);
        MainWindow w;
        const QPoint start(100, 80);
        showAt(w, start);
        const QPoint origin = bar->mapToGlobal(QPoint(200, 20));
        for (const QString& step : steps.split(' ')) {
            const QChar kind = step[0];
            QString rest = step.mid(1);
            Qt::MouseButton button = Qt::LeftButton;
            if (kind == 'p') {
                button = rest[0] == 'R' ? Qt::RightButton : rest[0] == 'M' ? Qt::MiddleButton : Qt::LeftButton;
                rest = rest.mid(1);
            }
            const QStringList xy = rest.split(',');
            const QPoint at = origin + QPoint(xy[0].toInt(), xy[1].toInt());
            if (kind == 'p')
                press(at, button);
            else if (kind == 'm')
                move(at);
            else
                release(at);
        }
        QCOMPARE(w.pos(), start + moved);
    }

    void pressOnTheWelcomeTextDragsToo()
    {
        MainWindow w;
        showAt(w, QPoint(50, 50));
        QLabel* welcome = bar->findChild<QLabel*>("label_3");
        const QPoint g = welcome->mapToGlobal(welcome->rect().center());
        QTest::mousePress(welcome, Qt::LeftButton, {}, welcome->rect().center());
        move(g + QPoint(-20, 15));
        QCOMPARE(w.pos(), QPoint(30, 65));
    }

    void helpCommand_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("file");
        QTest::newRow("plain") << "/opt/app" << QString("/opt/app/Movanta使用说明.pdf");
        QTest::newRow("blank and command substitution")
            << "/opt/my app$(x)" << QString("/opt/my app$(x)/Movanta使用说明.pdf");
        QTest::newRow("quotes and semicolon")
            << "/home/o'neil/a\";b" << QString("/home/o'neil/a\";b/Movanta使用说明.pdf");
        QTest::newRow("non-ASCII directory") << "/home/用户/程序" << QString("/home/用户/程序/Movanta使用说明.pdf");
    }
    void helpCommand()
    {
        QFETCH(QString, dir);
        QFETCH(QString, file);
        const HelpCommand command = TitleBar::helpCommand(dir);
        QCOMPARE(command.program, QString("xdg-open"));
        QCOMPARE(command.arguments, QStringList {file});
    }

    void helpButtonOpensTheManualBesideTheExecutable()
    {
        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        QVERIFY(writeFakeXdgOpen(bin.path()));
        const QString log = bin.filePath("calls.log");
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":" + oldPath);
        qputenv("MOVANTA_HELP_LOG", QFile::encodeName(log));
        TitleBar t;
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(t.findChild<QPushButton*>("helpBtn"), Qt::LeftButton);
        const qint64 took = timer.elapsed();
        qputenv("PATH", oldPath);
        // The viewer is started, not waited for: the click returns while it is still open (it stays open
        // until told to close, 10 s at most).
        QTRY_COMPARE(
            readLog(log), (QStringList {"1", QCoreApplication::applicationDirPath() + "/Movanta使用说明.pdf"}));
        QVERIFY2(took < 2000, qPrintable(QString::number(took)));
        QFile close(log + ".close");
        QVERIFY(close.open(QIODevice::WriteOnly));
    }

    void helpButtonCopesWithAnAwkwardDirectory()
    {
        // The same program, started from a directory whose name a shell would split and execute.
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString awkward = root.filePath("my app$(touch pwned);x");
        QVERIFY(QDir().mkpath(awkward));
        const QString copy = awkward + "/" + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QVERIFY(QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QVERIFY(writeFakeXdgOpen(root.path()));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", root.path() + ":" + env.value("PATH"));
        env.insert("MOVANTA_HELP_LOG", root.filePath("calls.log"));
        const ChildResult r = runChild(copy, "childClicksHelp", env, root.path());
        QVERIFY(r.finished);
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
        QTRY_COMPARE(readLog(root.filePath("calls.log")), (QStringList {"1", awkward + "/Movanta使用说明.pdf"}));
        QFile close(root.filePath("calls.log.close"));
        QVERIFY(close.open(QIODevice::WriteOnly));
        QVERIFY(!QFile::exists(root.filePath("pwned")));
        QVERIFY(!QFile::exists(awkward + "/pwned"));
    }

    void childClicksHelp()
    {
        if (!isChild())
            QSKIP("runs in the child process of helpButtonCopesWithAnAwkwardDirectory");
        TitleBar t;
        QTest::mouseClick(t.findChild<QPushButton*>("helpBtn"), Qt::LeftButton);
    }

    void minimiseButton()
    {
        MainWindow w;
        showAt(w, QPoint(10, 10));
        w.activateWindow();
        QTest::mouseClick(bar->findChild<QPushButton*>("minBtn"), Qt::LeftButton);
        QTRY_VERIFY(w.windowState() & Qt::WindowMinimized);
    }

    void closeEndsTheProcessAtOnce()
    {
        const ChildResult r = runChild(QCoreApplication::applicationFilePath(), "childClicksClose");
        QVERIFY(r.finished);
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
        QVERIFY2(r.output.contains("clicking close"), qPrintable(r.output));
        QVERIFY2(!r.output.contains("still running"), qPrintable(r.output));
        QVERIFY2(!r.output.contains("Totals:"), qPrintable(r.output));
    }

    void childClicksClose()
    {
        if (!isChild())
            QSKIP("runs in the child process of closeEndsTheProcessAtOnce");
        MainWindow w;
        showAt(w, QPoint(0, 0));
        std::printf("clicking close\n");
        QTest::mouseClick(bar->findChild<QPushButton*>("closeBtn"), Qt::LeftButton);
        std::printf("still running\n");
        QFAIL("the process survived the close button");
    }
};

MOVANTA_TEST_MAIN(TestTitleBar)
#include "tst_titlebar.moc"
