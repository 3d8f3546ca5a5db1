#include "connect/receiver/destination.h"
#include "testmain.h"

// Which received files become executable: desktop entries where the desktop shows them as launchers.
class TestLauncherPlace : public QObject
{
    Q_OBJECT

private slots:
    void isLauncherPlace_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("home");
        QTest::addColumn<bool>("executable");

        const QString bob = "/home/bob";
        QTest::newRow("entry on the desktop") << "/home/bob/Desktop/a.desktop" << bob << true;
        QTest::newRow("entry on the Chinese desktop") << "/home/bob/桌面/a.desktop" << bob << true;
        QTest::newRow("entry among the applications") << "/home/bob/.local/share/applications/b.desktop" << bob << true;
        QTest::newRow("folder named like an entry") << "/home/bob/Desktop/x.desktop.d/readme" << bob << false;
        QTest::newRow("entry in a desktop subfolder") << "/home/bob/Desktop/x/a.desktop" << bob << false;
        QTest::newRow("entry among documents") << "/home/bob/Documents/a.desktop" << bob << false;
        QTest::newRow("entry in the home itself") << "/home/bob/a.desktop" << bob << false;
        QTest::newRow("suffix followed by more") << "/home/bob/Desktop/a.desktop.txt" << bob << false;
        QTest::newRow("suffix alone") << "/home/bob/Desktop/.desktop" << bob << false;
        QTest::newRow("hidden entry") << "/home/bob/Desktop/.x.desktop" << bob << false;
        QTest::newRow("upper-case suffix") << "/home/bob/Desktop/a.DESKTOP" << bob << false;
        QTest::newRow("another user's desktop") << "/home/alice/Desktop/a.desktop" << bob << false;
        QTest::newRow("home named like a prefix") << "/home/bob2/Desktop/a.desktop" << bob << false;
        QTest::newRow("applications folder of the system")
            << "/data/usershare/.local/share/applications/b.desktop" << bob << false;
        QTest::newRow("climbing out") << "/home/bob/Desktop/../../alice/Desktop/a.desktop" << bob << false;
        QTest::newRow("desktop below a data folder") << "/home/bob/data/Desktop/a.desktop" << bob << false;
        QTest::newRow("home unset") << "./Desktop/a.desktop"
                                    << "" << true;
        QTest::newRow("doubled slashes and dots") << "/home/bob//./Desktop/a.desktop"
                                                  << "/home/bob/" << true;
    }
    void isLauncherPlace()
    {
        QFETCH(QString, path);
        QFETCH(QString, home);
        QFETCH(bool, executable);
        QCOMPARE(::isLauncherPlace(path.toStdString(), home.toStdString()), executable);
    }

    // The sender's paths as the receiver maps them.
    void destinationSaysExecutable_data()
    {
        QTest::addColumn<QString>("senderPath");
        QTest::addColumn<bool>("executable");
        QTest::newRow("Desktop/a.desktop") << "/home/alice/Desktop/a.desktop" << true;
        QTest::newRow("Desktop/x.desktop.d/readme") << "/home/alice/Desktop/x.desktop.d/readme" << false;
        QTest::newRow("Documents/a.desktop") << "/home/alice/Documents/a.desktop" << false;
        QTest::newRow(".local/share/applications/b.desktop")
            << "/home/alice/.local/share/applications/b.desktop" << true;
        QTest::newRow("Desktop/a.desktop.txt") << "/home/alice/Desktop/a.desktop.txt" << false;
        QTest::newRow("/data/home/ desktop") << "/data/home/alice/Desktop/c.desktop" << true;
        QTest::newRow("refused path") << "/home/alice/../bob/Desktop/a.desktop" << false;
    }
    void destinationSaysExecutable()
    {
        QFETCH(QString, senderPath);
        QFETCH(bool, executable);
        const Destination d = destinationFor(senderPath.toStdString(), 11, "/home/bob");
        QCOMPARE(d.executable, executable);
    }
};

MOVANTA_TEST_MAIN(TestLauncherPlace)
#include "tst_launcherplace.moc"
