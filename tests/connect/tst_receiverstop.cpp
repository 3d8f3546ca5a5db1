#include <cstdlib>
#include <memory>

#include <sys/stat.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "common/resultbits.h"
#include "connect/newpcconnectpage.h"
#include "connect/pcpairpage.h"
#include "migrationrig.h"
#include "testmain.h"

using namespace MigrationRig;

// Closing the receiver page while the installer runs: the page does not wait for it, and the sender
// counts the applications as not installed, as after a lost connection.
class TestReceiverStop : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    std::string home;
    QString installing;
    QByteArray savedPath;

    bool writeTool(const std::string& path, const std::string& body)
    {
        return writeFile(path, "#!/bin/sh\n" + body) && ::chmod(path.c_str(), 0755) == 0;
    }

private slots:
    void initTestCase()
    {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid());
        const std::string base = root->path().toStdString();
        home = base + "/home";
        const std::string fake = base + "/fake";
        installing = root->path() + "/installing";
        QVERIFY(QDir().mkpath(QString::fromStdString(fake)));
        QVERIFY(QDir().mkpath(QString::fromStdString(home + "/Desktop")));
        QVERIFY(writeTool(fake + "/pkexec", "exec \"$@\"\n"));
        QVERIFY(writeTool(fake + "/apt",
            "[ \"$1\" = list ] && printf 'Listing...\\ngimp/stable 2.10 amd64\\nvim/stable 9 amd64\\n'\nexit 0\n"));
        // Stays busy (for 30 s at most, and no longer than the test's folder exists), like apt waiting for a
        // password or a slow download.
        QVERIFY(writeTool(fake + "/apt-get",
            "echo 'Reading package lists...'\n: > '" + installing.toStdString()
                + "'\ni=0; while [ $i -lt 300 ] && [ -d '" + base + "' ]; do sleep 0.1; i=$((i+1)); done\n"));
        QVERIFY(writeTool(fake + "/apt-mark", "exit 0\n"));
        QVERIFY(writeTool(fake + "/pgrep", "exit 1\n"));
        // Would say installed: only a report sent anyway could make the sender count an application.
        QVERIFY(writeTool(fake + "/dpkg-query",
            "printf 'Package: %s\\nStatus: install ok installed\\nInstalled-Size: 5\\n' \"$2\"\nexit 0\n"));
        savedPath = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(fake) + ":/usr/bin:/bin");
        ::setenv("HOME", home.c_str(), 1);
    }

    void cleanupTestCase() { qputenv("PATH", savedPath); }

    void closingDoesNotWaitForTheInstaller_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("page unloaded") << false;
        QTest::newRow("page destroyed") << true;
    }
    void closingDoesNotWaitForTheInstaller()
    {
        QFETCH(bool, destroy);
        QFile::remove(installing);
        auto page = std::make_unique<NewPCConnectPage>();
        page->Load();
        const std::string code = page->findChild<PCPairPage*>("page_2")->code().toStdString();

        Sender sender;
        QCOMPARE(sender.open(ReceiverPort, code), Sender::Opened::Ready);
        SendPlan plan;
        plan.checkedApps = {"gimp", "vim"};
        plan.appCount = 2;
        plan.home = home;
        sender.start(plan);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(installing), 30000);

        QElapsedTimer timer;
        timer.start();
        if (destroy) {
            page.reset();
        } else {
            page->Unload();
        }
        const qint64 took = timer.elapsed();
        QVERIFY2(took < 3000, qPrintable(QString::number(took)));

        QVERIFY(sender.finish(20000));
        const std::vector<ItemResult> results = sender.observer.results();
        QCOMPARE(results.size(), std::size_t(2));
        for (const ItemResult& result : results) {
            QCOMPARE(result.code, ResultBits::AppFailed);
        }
        page.reset();
    }
};

MOVANTA_TEST_MAIN(TestReceiverStop)
#include "tst_receiverstop.moc"
