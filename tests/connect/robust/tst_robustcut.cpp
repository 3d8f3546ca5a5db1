#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include <sys/stat.h>

#include <QTemporaryDir>

#include "cutproxy.h"
#include "migrationrig.h"
#include "net/fileheader.h"
#include "testmain.h"

using namespace MigrationRig;
using Direction = CutProxy::Direction;

namespace {

constexpr uint16_t ProxyPort = 4400;

struct PlannedFile
{
    std::string relative;
    std::string content;
    std::string old; // what the receiver had there before; empty when nothing
};

std::vector<PlannedFile> plannedFiles()
{
    return {
        {"Documents/small.txt", randomBytes(100, 1), "old small text\n"},
        {"Documents/empty", std::string(), std::string()},
        {"Pictures/large.bin", randomBytes(300000, 2), randomBytes(70000, 3)},
        {"notes/last.txt", randomBytes(5000, 4), std::string()},
    };
}

// Offsets of the byte stream a whole migration of plannedFiles() with one application puts on the wire.
struct Layout
{
    uint64_t fileHeader[4];
    uint64_t tag;
    uint64_t senderTotal;
    uint64_t resultByte[4];
    uint64_t installStarted;
    uint64_t endMark;

    Layout()
    {
        uint64_t at = 6 + 16;
        const auto files = plannedFiles();
        for (std::size_t i = 0; i < files.size(); ++i) {
            fileHeader[i] = at;
            at += FileHeader::Size + files[i].content.size();
        }
        tag = at;
        senderTotal = at + 2 + 4 + 6; // "S1", length, "hello "
        at = 2 + 16;
        for (uint64_t& r : resultByte) {
            r = at++;
        }
        installStarted = at;
        endMark = at + 2 + 4 + 1; // "S3", report length, the empty report's NUL
    }
};

} // namespace

// The connection between a real sender and a real receiver cut at many points, on either side: no
// destination is ever left truncated, the sender reports every item once, and a new connection works.
class TestRobustCut : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root;
    std::string senderHome;
    std::string receiverHome;
    std::string toolLog;
    std::unique_ptr<Receiver> receiver;
    std::unique_ptr<CutProxy> proxy;
    int cutsTried = 0;
    int filesCompared = 0;

    SendPlan plan() const
    {
        SendPlan p;
        for (const PlannedFile& f : plannedFiles()) {
            p.files.emplace_back(senderHome + "/" + f.relative, f.content.size());
            p.selectedFileSize += f.content.size();
        }
        p.checkedApps = {"hello"};
        p.appCount = 1;
        p.home = senderHome;
        return p;
    }

    // Every destination holds either what it held before or the whole new file; `newOnes` gets the files
    // that arrived whole.
    void checkDestinations(std::map<std::string, bool>& arrived)
    {
        for (const PlannedFile& f : plannedFiles()) {
            const std::string path = receiverHome + "/" + f.relative;
            struct stat st;
            const bool exists = ::stat(path.c_str(), &st) == 0;
            const std::string now = exists ? readFile(path) : std::string();
            ++filesCompared;
            const bool whole = exists && sha256(now) == sha256(f.content) && now == f.content;
            const bool before = f.old.empty() ? !exists || (f.content.empty() && whole) : now == f.old;
            QVERIFY2(whole || before,
                qPrintable(QString::fromStdString(f.relative
                    + ": neither the old nor the "
                      "whole new content, "
                    + std::to_string(now.size()) + " bytes")));
            arrived[f.relative] = whole;
        }
        const std::vector<std::string> temporary = leftovers(receiverHome);
        QVERIFY2(temporary.empty(), qPrintable(QString::fromStdString(temporary.empty() ? "" : temporary[0])));
    }

    // Each selected item exactly once; success only for a file that arrived whole; after the first lost
    // file every later one is reported as not sent.
    void checkReport(
        const std::vector<ItemResult>& results, const std::map<std::string, bool>& arrived, bool cutBeforeResults)
    {
        const auto files = plannedFiles();
        QCOMPARE(results.size(), files.size() + 1);
        bool lost = false;
        for (std::size_t i = 0; i < files.size(); ++i) {
            QCOMPARE(results[i].name, senderHome + "/" + files[i].relative);
            const int code = results[i].code;
            QVERIFY2(code == 0 || code == 1 || code == 8 || code == 255,
                qPrintable(QString("%1: code %2").arg(i).arg(code)));
            if (code == 0) {
                QVERIFY2(!lost, "a file after the cut reported as sent");
                QVERIFY2(arrived.at(files[i].relative), qPrintable(QString("%1 reported sent but not whole").arg(i)));
            } else {
                if (lost) {
                    QCOMPARE(code, 255);
                }
                lost = true;
            }
        }
        QCOMPARE(lost, cutBeforeResults);
        QCOMPARE(results.back().name, std::string("hello"));
        QCOMPARE(results.back().code, 64); // the fake package tools install nothing
    }

    void waitReceiverIdle() { QTRY_COMPARE_WITH_TIMEOUT(receiver->connections(), std::size_t(0), 20000); }

    // A whole migration straight to the receiver: everything arrives, byte for byte.
    void migrateAgain(Sender& sender)
    {
        QCOMPARE(sender.open(ReceiverPort), Sender::Opened::Ready);
        sender.start(plan());
        QVERIFY(sender.finish());
        const std::vector<ItemResult> results = sender.observer.results();
        const auto files = plannedFiles();
        QCOMPARE(results.size(), files.size() + 1);
        for (std::size_t i = 0; i < files.size(); ++i) {
            QCOMPARE(results[i].code, 0);
            const std::string now = readFile(receiverHome + "/" + files[i].relative);
            QCOMPARE(sha256(now), sha256(files[i].content));
            QVERIFY(now == files[i].content);
            ++filesCompared;
        }
        QCOMPARE(results.back().code, 64);
        waitReceiverIdle();
        QCOMPARE(receiver->events.finishedCodes(), std::vector<int> {0});
    }

private slots:
    void initTestCase()
    {
        ::umask(022);
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid());
        const std::string base = root->path().toStdString();
        senderHome = base + "/sender/alice";
        receiverHome = base + "/receiver/bob";
        toolLog = base + "/tools.log";
        QVERIFY(QDir().mkpath(QString::fromStdString(base + "/fake")));
        QVERIFY(writeFakeTools(base + "/fake", toolLog));
        ::setenv("PATH", (base + "/fake:" + std::getenv("PATH")).c_str(), 1);
        for (const PlannedFile& f : plannedFiles()) {
            const std::string path = senderHome + "/" + f.relative;
            QVERIFY(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
            QVERIFY(writeFile(path, f.content));
        }
    }

    void init()
    {
        QDir(QString::fromStdString(receiverHome)).removeRecursively();
        for (const PlannedFile& f : plannedFiles()) {
            if (!f.old.empty()) {
                const std::string path = receiverHome + "/" + f.relative;
                QVERIFY(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
                QVERIFY(writeFile(path, f.old));
            }
        }
        ::setenv("HOME", receiverHome.c_str(), 1);
        receiver = std::make_unique<Receiver>();
        QVERIFY(receiver->start());
        proxy = std::make_unique<CutProxy>(ProxyPort, ReceiverPort);
        QVERIFY(proxy->start());
    }

    void cleanup()
    {
        proxy.reset();
        receiver.reset();
    }

    void cleanupTestCase()
    {
        std::printf(
            "ROBUSTNESS SUMMARY: %d cut points tried, %d files compared byte for byte\n", cutsTried, filesCompared);
    }

    void cut_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<qulonglong>("offset");
        QTest::addColumn<bool>("pairs"); // the sender gets its "S0"
        QTest::addColumn<bool>("inFiles"); // the cut falls before every file result is back
        QTest::addColumn<bool>("receiverBroken"); // the receiver's page shows "连接中断"

        const Layout l;
        const int out = static_cast<int>(Direction::SenderToReceiver);
        const int back = static_cast<int>(Direction::ReceiverToSender);
        QTest::newRow("pairing: after 3 bytes of the code") << out << 3ull << false << true << true;
        QTest::newRow("transfer header: byte 8") << out << 14ull << true << true << true;
        QTest::newRow("first file header: byte 1") << out << qulonglong(l.fileHeader[0] + 1) << true << true << true;
        QTest::newRow("first file header: byte 4111")
            << out << qulonglong(l.fileHeader[0] + 4111) << true << true << true;
        QTest::newRow("small file: mid-unit") << out << qulonglong(l.fileHeader[0] + 4112 + 50) << true << true << true;
        QTest::newRow("empty file: header byte 1") << out << qulonglong(l.fileHeader[1] + 1) << true << true << true;
        QTest::newRow("large file header: byte 4111")
            << out << qulonglong(l.fileHeader[2] + 4111) << true << true << true;
        QTest::newRow("large file: unit boundary")
            << out << qulonglong(l.fileHeader[2] + 4112 + 10 * 1024) << true << true << true;
        QTest::newRow("large file: mid-unit")
            << out << qulonglong(l.fileHeader[2] + 4112 + 150000 + 17) << true << true << true;
        QTest::newRow("large file: last content byte withheld")
            << out << qulonglong(l.fileHeader[2] + 4112 + 300000 - 1) << true << true << true;
        QTest::newRow("last file: mid-unit")
            << out << qulonglong(l.fileHeader[3] + 4112 + 2500) << true << true << true;
        QTest::newRow("application tag: byte 1") << out << qulonglong(l.tag + 1) << true << false << false;
        QTest::newRow("application list: mid") << out << qulonglong(l.tag + 2 + 4 + 3) << true << false << false;
        QTest::newRow("receiver side: free space byte 8") << back << 10ull << true << true << true;
        QTest::newRow("receiver side: just before the first result byte")
            << back << qulonglong(l.resultByte[0]) << true << true << true;
        QTest::newRow("receiver side: just before the large file's result byte")
            << back << qulonglong(l.resultByte[2]) << true << true << true;
        QTest::newRow("receiver side: just before the last result byte")
            << back << qulonglong(l.resultByte[3]) << true << true << true;
        QTest::newRow("receiver side: just before \"S3\"")
            << back << qulonglong(l.installStarted) << true << false << false;
        QTest::newRow("receiver side: inside the report length")
            << back << qulonglong(l.installStarted + 2 + 2) << true << false << false;
        QTest::newRow("receiver side: just before the end mark")
            << back << qulonglong(l.endMark) << true << false << false;
        QTest::newRow("receiver side: between the end mark's bytes")
            << back << qulonglong(l.endMark + 1) << true << false << false;
    }

    void cut()
    {
        QFETCH(int, direction);
        QFETCH(qulonglong, offset);
        QFETCH(bool, pairs);
        QFETCH(bool, inFiles);
        QFETCH(bool, receiverBroken);
        ++cutsTried;

        proxy->arm(static_cast<Direction>(direction), offset);
        Sender sender;
        const Sender::Opened opened = sender.open(ProxyPort);
        if (opened == Sender::Opened::Ready) {
            sender.start(plan());
            QVERIFY2(sender.finish(), "the sender's run did not end after the cut");
        } else {
            QVERIFY2(opened == Sender::Opened::PairingLost || opened == Sender::Opened::FreeSpaceLost,
                "the sender did not notice the cut while pairing");
        }
        QTRY_VERIFY_WITH_TIMEOUT(proxy->cut(), 20000);
        QCOMPARE(sender.paired, pairs);
        waitReceiverIdle();

        std::map<std::string, bool> arrived;
        checkDestinations(arrived);
        if (QTest::currentTestFailed()) {
            return;
        }
        if (opened == Sender::Opened::Ready) {
            checkReport(sender.observer.results(), arrived, inFiles);
            if (QTest::currentTestFailed()) {
                return;
            }
            QVERIFY(!sender.observer.progressOutOfRange());
        }
        QVERIFY(!receiver->events.progressOutOfRange());
        const std::vector<int> finished = receiver->events.finishedCodes();
        const auto texts = receiver->events.items();
        const bool shownBroken = std::find(texts.begin(), texts.end(), std::string(u8"连接中断")) != texts.end();
        if (!pairs && finished.empty()) {
            // Cut inside the code: a reset can discard the few bytes before the receiver looked, and a
            // connection that never said a word is a probe, which changes nothing on screen.
            QVERIFY(!shownBroken);
        } else {
            QCOMPARE(finished.size(), std::size_t(1));
            QCOMPARE(finished[0], receiverBroken ? 1 : 0);
            QCOMPARE(shownBroken, receiverBroken);
        }

        // The same sender, still paired or not, migrates everything on a new connection.
        receiver->events.clear();
        Sender again;
        again.paired = sender.paired;
        migrateAgain(again);
    }
};

MOVANTA_TEST_MAIN(TestRobustCut)
#include "tst_robustcut.moc"
