#include <cstdlib>
#include <memory>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <QTemporaryDir>

#include "migrationrig.h"
#include "testmain.h"

using namespace MigrationRig;

// The receiver's disk fills up part-way through a migration (a small tmpfs as its home, in a mount
// namespace of the test's own): what did not fit is reported failed, and nothing reported as sent is less
// than whole.
class TestRobustDisk : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    std::string senderHome;
    std::string receiverHome;
    bool mounted = false;
    int filesCompared = 0;

private slots:
    void initTestCase()
    {
        ::umask(022);
        root = std::make_unique<QTemporaryDir>();
        senderHome = root->path().toStdString() + "/alice";
        receiverHome = root->path().toStdString() + "/bob";
        QVERIFY(QDir().mkpath(QString::fromStdString(senderHome)));
        QVERIFY(QDir().mkpath(QString::fromStdString(receiverHome)));
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            QSKIP("no private mount namespace here");
        }
        mounted = true;
    }

    void cleanupTestCase()
    {
        std::printf("ROBUSTNESS SUMMARY: full disk compared %d files byte for byte\n", filesCompared);
    }

    void diskFills_data()
    {
        QTest::addColumn<int>("diskKiB");
        QTest::addColumn<int>("fileKiB");
        QTest::addColumn<int>("files");
        QTest::newRow("256 KiB disk, eight files of 60 KiB") << 256 << 60 << 8;
        QTest::newRow("1 MiB disk, five files of 300 KiB") << 1024 << 300 << 5;
        QTest::newRow("64 KiB disk, twenty files of 5 KiB") << 64 << 5 << 20;
    }

    void diskFills()
    {
        QFETCH(int, diskKiB);
        QFETCH(int, fileKiB);
        QFETCH(int, files);
        const std::string options = "size=" + std::to_string(diskKiB) + "k,mode=0755";
        QVERIFY(::mount("tmpfs", receiverHome.c_str(), "tmpfs", 0, options.c_str()) == 0);
        struct Unmount
        {
            std::string at;
            ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
        } unmount {receiverHome};
        ::setenv("HOME", receiverHome.c_str(), 1);
        // One destination already there, small: its bigger replacement must not destroy it.
        const std::string old = "old content that must survive\n";
        QVERIFY(writeFile(receiverHome + "/f" + std::to_string(files - 1), old));

        SendPlan plan;
        for (int i = 0; i < files; ++i) {
            const std::string path = senderHome + "/f" + std::to_string(i);
            QVERIFY(writeFile(path, randomBytes(static_cast<std::size_t>(fileKiB) * 1024 + 7, 60 + i)));
            plan.files.emplace_back(path, static_cast<uint64_t>(fileKiB) * 1024 + 7);
            plan.selectedFileSize += static_cast<uint64_t>(fileKiB) * 1024 + 7;
        }
        plan.home = senderHome;

        Receiver receiver;
        QVERIFY(receiver.start());
        Sender sender;
        QCOMPARE(sender.open(ReceiverPort), Sender::Opened::Ready);
        sender.start(plan);
        QVERIFY(sender.finish());
        receiver.stop();

        const std::vector<ItemResult> results = sender.observer.results();
        QCOMPARE(int(results.size()), files);
        int succeeded = 0;
        int failed = 0;
        for (int i = 0; i < files; ++i) {
            const std::string name = "/f" + std::to_string(i);
            QCOMPARE(results[i].name, senderHome + name);
            const std::string there = readFile(receiverHome + name);
            ++filesCompared;
            if (results[i].code == 0) {
                ++succeeded;
                QCOMPARE(sha256(there), sha256(readFile(senderHome + name)));
            } else {
                ++failed;
                QVERIFY2((results[i].code & 4) != 0, qPrintable(QString("code %1").arg(results[i].code)));
                const std::string expected = i == files - 1 ? old : std::string();
                QVERIFY2(there == expected,
                    qPrintable(QString("f%1: %2 bytes left after a failed write").arg(i).arg(there.size())));
            }
        }
        QVERIFY2(succeeded > 0 && failed > 0, qPrintable(QString("%1 fitted, %2 did not").arg(succeeded).arg(failed)));
        QVERIFY(leftovers(receiverHome).empty());
    }
};

MOVANTA_TEST_MAIN(TestRobustDisk)
#include "tst_robustdisk.moc"
