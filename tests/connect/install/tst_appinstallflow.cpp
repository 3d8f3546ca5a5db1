#include <cstdlib>
#include <memory>

#include <sys/stat.h>

#include <QTemporaryDir>

#include "migrationrig.h"
#include "testmain.h"

using namespace MigrationRig;

// From the sender's application list to the sender's report rows, over loopback: the real sender engine,
// the real receiver engine with the real installer, and package tools faked first on PATH.
class TestAppInstallFlow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    std::string home;
    std::string log;

    static bool writeTool(const std::string& path, const std::string& body)
    {
        return writeFile(path, "#!/bin/sh\n" + body) && ::chmod(path.c_str(), 0755) == 0;
    }

private slots:
    void initTestCase()
    {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid());
        const std::string base = root->path().toStdString();
        home = base + "/home/新 用户";
        log = base + "/tools.log";
        const std::string fake = base + "/fake";
        QVERIFY(QDir().mkpath(QString::fromStdString(fake)));
        QVERIFY(QDir().mkpath(QString::fromStdString(home + "/桌面")));

        const std::string logLine = "echo \"${0##*/} $*\" >>'" + log + "'\n";
        // gimp is in the archive and installs; ghost is unknown everywhere; vim was installed by hand before.
        QVERIFY(writeTool(fake + "/pkexec", logLine + "exec \"$@\"\n"));
        QVERIFY(writeTool(fake + "/apt",
            logLine
                + "[ \"$1\" = list ] && printf 'Listing...\\ngimp/stable 2.10 amd64\\nvim/stable 9 amd64\\n'\n"
                  "exit 0\n"));
        QVERIFY(writeTool(fake + "/apt-get",
            logLine + "printf 'Reading package lists...\\nSetting up gimp (2.10) ...\\n'\nsleep 1\nexit 0\n"));
        QVERIFY(writeTool(fake + "/apt-mark", logLine + "[ \"$1\" = showmanual ] && echo vim\nexit 0\n"));
        QVERIFY(writeTool(fake + "/pgrep", logLine + "exit 1\n"));
        QVERIFY(writeTool(fake + "/dpkg-query",
            logLine
                + "case \"$1 $2\" in\n"
                  "'-s gimp') printf 'Package: gimp\\nStatus: install ok installed\\nInstalled-Size: 12345\\n' ;;\n"
                  "'-s vim') printf 'Package: vim\\nStatus: install ok installed\\nInstalled-Size: 2MB\\n' ;;\n"
                  "esac\nexit 0\n"));
        ::setenv("PATH", (fake + ":/usr/bin:/bin").c_str(), 1);
        ::setenv("HOME", home.c_str(), 1);
    }

    void applicationsEndInTheSendersReport()
    {
        Receiver receiver;
        QVERIFY(receiver.start());
        Sender sender;
        QCOMPARE(sender.open(ReceiverPort), Sender::Opened::Ready);

        SendPlan plan;
        plan.checkedApps = {"gimp", "ghost", "vim"};
        plan.appCount = 5;
        plan.home = home;
        sender.start(plan);
        QVERIFY(sender.finish(120000));

        const std::vector<ItemResult> results = sender.observer.results();
        QCOMPARE(results.size(), std::size_t(3));
        // Report order first (installed packages in list order), then the missing ones.
        QCOMPARE(results[0].name, std::string("gimp"));
        QCOMPARE(results[0].code, 0);
        QCOMPARE(results[0].size, uint64_t(12345) * 1024);
        QCOMPARE(results[1].name, std::string("vim"));
        QCOMPARE(results[1].code, 0);
        QCOMPARE(results[1].size, uint64_t(2) * 1048576);
        QCOMPARE(results[2].name, std::string("ghost"));
        QCOMPARE(results[2].code, 64);
        QCOMPARE(results[2].size, uint64_t(5));

        const std::string calls = readFile(log);
        QVERIFY2(
            calls.find("apt-get install -y --no-install-recommends gimp vim ") != std::string::npos, calls.c_str());
        QVERIFY(calls.find("ghost") == std::string::npos
            || calls.find("install -y --no-install-recommends gimp vim ghost") == std::string::npos);
        // The transfer page showed the installer's last line.
        bool shownInstallerLine = false;
        for (const std::string& item : receiver.events.items())
            shownInstallerLine = shownInstallerLine || item == "应用安装 Setting up gimp (2.10) ...";
        QVERIFY(shownInstallerLine);
        QTRY_COMPARE(receiver.events.finishedCodes(), std::vector<int> {0});
        QVERIFY(!receiver.events.progressOutOfRange());
    }
};

MOVANTA_TEST_MAIN(TestAppInstallFlow)
#include "tst_appinstallflow.moc"
