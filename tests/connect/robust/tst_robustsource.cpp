#include <cstdlib>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "migrationrig.h"
#include "testmain.h"

using namespace MigrationRig;

// Sender files that change between selection and sending: each is reported with the sender's code, and
// the files after it still arrive whole.
class TestRobustSource : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    std::string senderHome;
    std::string receiverHome;
    std::unique_ptr<Receiver> receiver;
    int filesCompared = 0;

private slots:
    void initTestCase()
    {
        ::umask(022);
        root = std::make_unique<QTemporaryDir>();
        senderHome = root->path().toStdString() + "/alice";
        receiverHome = root->path().toStdString() + "/bob";
    }

    void init()
    {
        QDir(QString::fromStdString(receiverHome)).removeRecursively();
        QDir(QString::fromStdString(senderHome)).removeRecursively();
        QVERIFY(QDir().mkpath(QString::fromStdString(receiverHome)));
        QVERIFY(QDir().mkpath(QString::fromStdString(senderHome)));
        ::setenv("HOME", receiverHome.c_str(), 1);
        receiver = std::make_unique<Receiver>();
        QVERIFY(receiver->start());
    }

    void cleanup() { receiver.reset(); }

    void cleanupTestCase()
    {
        std::printf("ROBUSTNESS SUMMARY: changing sender files compared %d files byte for byte\n", filesCompared);
    }

    void changedAfterSelection_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("code");
        QTest::addColumn<qulonglong>("recorded");
        QTest::newRow("disappears: 16") << 0 << 16 << 2048ull;
        QTest::newRow("becomes a FIFO, unreadable: 4") << 1 << 4 << 2048ull;
        QTest::newRow("becomes a folder, unreadable: 4") << 2 << 4 << 2048ull;
        QTest::newRow("shrinks from 2048 to 100 bytes: 16") << 3 << 16 << 2048ull;
        QTest::newRow("grows from 1000 to 3000 bytes: sent whole") << 4 << 0 << 1000ull;
        QTest::newRow("recorded empty, now 3000 bytes: sent whole") << 4 << 0 << 0ull;
    }

    void changedAfterSelection()
    {
        QFETCH(int, change);
        QFETCH(int, code);
        QFETCH(qulonglong, recorded);

        const std::string before = senderHome + "/before.bin";
        const std::string changing = senderHome + "/changing.bin";
        const std::string after = senderHome + "/after.bin";
        QVERIFY(writeFile(before, randomBytes(5000, 21)));
        QVERIFY(writeFile(changing, randomBytes(static_cast<std::size_t>(recorded), 22)));
        QVERIFY(writeFile(after, randomBytes(7000, 23)));

        SendPlan plan;
        plan.files = {{before, 5000}, {changing, recorded}, {after, 7000}};
        plan.selectedFileSize = 12000 + recorded;
        plan.home = senderHome;

        // The selection was made; now the file changes under it.
        switch (change) {
        case 0:
            QCOMPARE(::unlink(changing.c_str()), 0);
            break;
        case 1:
            QCOMPARE(::unlink(changing.c_str()), 0);
            QCOMPARE(::mkfifo(changing.c_str(), 0644), 0);
            break;
        case 2:
            QCOMPARE(::unlink(changing.c_str()), 0);
            QCOMPARE(::mkdir(changing.c_str(), 0755), 0);
            break;
        case 3:
            QCOMPARE(::truncate(changing.c_str(), 100), 0);
            break;
        case 4:
            QVERIFY(writeFile(changing, randomBytes(3000, 24)));
            break;
        }

        Sender sender;
        QCOMPARE(sender.open(ReceiverPort), Sender::Opened::Ready);
        sender.start(plan);
        QVERIFY(sender.finish());
        const std::vector<ItemResult> results = sender.observer.results();
        QCOMPARE(results.size(), std::size_t(3));
        QCOMPARE(results[0].code, 0);
        QCOMPARE(results[1].name, changing);
        QCOMPARE(results[1].code, code);
        QCOMPARE(results[2].code, 0);
        for (const char* name : {"/before.bin", "/after.bin"}) {
            const std::string sent = readFile(senderHome + name);
            QCOMPARE(sha256(readFile(receiverHome + name)), sha256(sent));
            ++filesCompared;
        }
        if (code == 0) {
            QVERIFY(readFile(receiverHome + "/changing.bin") == readFile(changing));
            ++filesCompared;
        }
        QVERIFY(leftovers(receiverHome).empty());
        QTRY_COMPARE(receiver->events.finishedCodes(), std::vector<int> {0});
    }
};

MOVANTA_TEST_MAIN(TestRobustSource)
#include "tst_robustsource.moc"
