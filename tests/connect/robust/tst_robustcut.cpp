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

// Set 0: a few files of every kind. Set 1: many small files around a large one, so that a cut falls while
// several files are on their way ahead of their results.
std::vector<PlannedFile> plannedFiles(int set)
{
    if (set == 0) {
        return {
            {"Documents/small.txt", randomBytes(100, 1), "old small text\n"},
            {"Documents/empty", std::string(), std::string()},
            {"Pictures/large.bin", randomBytes(300000, 2), randomBytes(70000, 3)},
            {"notes/last.txt", randomBytes(5000, 4), std::string()},
        };
    }
    std::vector<PlannedFile> files;
    for (unsigned i = 0; i < 16; ++i) {
        const std::string name = "flight/f" + std::to_string(100 + i);
        const std::size_t size = i == 9 ? 200000 : 1500 + 211 * i;
        files.push_back({name, randomBytes(size, 10 + i), i % 4 == 1 ? randomBytes(900, 40 + i) : std::string()});
    }
    return files;
}

constexpr int Sets = 2;

// Offsets of the byte stream a whole migration of plannedFiles(set) with one application puts on the wire.
struct Layout
{
    std::vector<uint64_t> fileHeader;
    uint64_t tag;
    uint64_t senderTotal;
    std::vector<uint64_t> resultByte;
    uint64_t installStarted;
    uint64_t endMark;

    explicit Layout(int set)
    {
        uint64_t at = 6 + 16;
        const auto files = plannedFiles(set);
        for (std::size_t i = 0; i < files.size(); ++i) {
            fileHeader.push_back(at);
            at += FileHeader::Size + files[i].content.size();
        }
        tag = at;
        senderTotal = at + 2 + 4 + 6; // "S1", length, "hello "
        at = 2 + 16;
        for (std::size_t i = 0; i < files.size(); ++i) {
            resultByte.push_back(at++);
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
    int set = 0;
    // Bytes each way of a whole encrypted migration of each set, measured once.
    std::map<int, std::pair<uint64_t, uint64_t>> secureTotals;

    SendPlan plan() const
    {
        SendPlan p;
        for (const PlannedFile& f : plannedFiles(set)) {
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
        for (const PlannedFile& f : plannedFiles(set)) {
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

    // Each selected item exactly once, in order; success only for a file that arrived whole and whose
    // result could come back (`confirmable` results got through the cut); after the first lost file no
    // later one is reported as sent.
    void checkReport(const std::vector<ItemResult>& results, const std::map<std::string, bool>& arrived,
        bool cutBeforeResults, std::size_t confirmable)
    {
        const auto files = plannedFiles(set);
        QCOMPARE(results.size(), files.size() + 1);
        bool lost = false;
        std::size_t sent = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            QCOMPARE(results[i].name, senderHome + "/" + files[i].relative);
            const int code = results[i].code;
            QVERIFY2(code == 0 || code == 1 || code == 8 || code == 255,
                qPrintable(QString("%1: code %2").arg(i).arg(code)));
            if (code == 0) {
                QVERIFY2(!lost, "a file after the cut reported as sent");
                QVERIFY2(arrived.at(files[i].relative), qPrintable(QString("%1 reported sent but not whole").arg(i)));
                ++sent;
            } else {
                lost = true;
            }
        }
        QVERIFY2(sent <= confirmable,
            qPrintable(QString("%1 files reported sent, %2 results got through").arg(sent).arg(confirmable)));
        QCOMPARE(lost, cutBeforeResults);
        QCOMPARE(results.back().name, std::string("hello"));
        QCOMPARE(results.back().code, 64); // the fake package tools install nothing
    }

    void waitReceiverIdle() { QTRY_COMPARE_WITH_TIMEOUT(receiver->connections(), std::size_t(0), 20000); }

    // Each item once, in order; success only for a file that arrived whole, and none after a lost one.
    void checkEachOnce(const std::vector<ItemResult>& results, const std::map<std::string, bool>& arrived)
    {
        const auto files = plannedFiles(set);
        QCOMPARE(results.size(), files.size() + 1);
        bool lost = false;
        for (std::size_t i = 0; i < files.size(); ++i) {
            QCOMPARE(results[i].name, senderHome + "/" + files[i].relative);
            const int code = results[i].code;
            QVERIFY2(code == 0 || code == 1 || code == 8 || code == 255,
                qPrintable(QString("%1: code %2").arg(i).arg(code)));
            if (code == 0) {
                QVERIFY2(!lost, "a file after the loss reported as sent");
                QVERIFY2(arrived.at(files[i].relative), qPrintable(QString("%1 reported sent but not whole").arg(i)));
            } else {
                lost = true;
            }
        }
        QCOMPARE(results.back().name, std::string("hello"));
    }

    // A whole migration straight to the receiver: everything arrives, byte for byte.
    void migrateAgain(Sender& sender)
    {
        QCOMPARE(sender.open(ReceiverPort), Sender::Opened::Ready);
        sender.start(plan());
        QVERIFY(sender.finish());
        const std::vector<ItemResult> results = sender.observer.results();
        const auto files = plannedFiles(set);
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
        for (int s = 0; s < Sets; ++s) {
            for (const PlannedFile& f : plannedFiles(s)) {
                const std::string path = senderHome + "/" + f.relative;
                QVERIFY(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
                QVERIFY(writeFile(path, f.content));
            }
        }
    }

    void init()
    {
        QDir(QString::fromStdString(receiverHome)).removeRecursively();
        for (int s = 0; s < Sets; ++s) {
            for (const PlannedFile& f : plannedFiles(s)) {
                if (!f.old.empty()) {
                    const std::string path = receiverHome + "/" + f.relative;
                    QVERIFY(QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/')))));
                    QVERIFY(writeFile(path, f.old));
                }
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
        QTest::addColumn<int>("fileSet");
        QTest::addColumn<int>("direction");
        QTest::addColumn<qulonglong>("offset");
        QTest::addColumn<bool>("pairs"); // the sender gets its "S0"
        QTest::addColumn<bool>("inFiles"); // the cut falls before every file result is back
        // The receiver's page shows "连接中断" (1) or the end (0); -1: either, when files went ahead of their
        // results and the receiver may have had every one of them before the cut reached it.
        QTest::addColumn<int>("receiverBroken");

        const Layout l(0);
        const int out = static_cast<int>(Direction::SenderToReceiver);
        const int back = static_cast<int>(Direction::ReceiverToSender);
        QTest::newRow("pairing: after 3 bytes of the code") << 0 << out << 3ull << false << true << 1;
        QTest::newRow("transfer header: byte 8") << 0 << out << 14ull << true << true << 1;
        QTest::newRow("first file header: byte 1") << 0 << out << qulonglong(l.fileHeader[0] + 1) << true << true << 1;
        QTest::newRow("first file header: byte 4111")
            << 0 << out << qulonglong(l.fileHeader[0] + 4111) << true << true << 1;
        QTest::newRow("small file: mid-unit")
            << 0 << out << qulonglong(l.fileHeader[0] + 4112 + 50) << true << true << 1;
        QTest::newRow("empty file: header byte 1") << 0 << out << qulonglong(l.fileHeader[1] + 1) << true << true << 1;
        QTest::newRow("large file header: byte 4111")
            << 0 << out << qulonglong(l.fileHeader[2] + 4111) << true << true << 1;
        QTest::newRow("large file: unit boundary")
            << 0 << out << qulonglong(l.fileHeader[2] + 4112 + 10 * 1024) << true << true << 1;
        QTest::newRow("large file: mid-unit")
            << 0 << out << qulonglong(l.fileHeader[2] + 4112 + 150000 + 17) << true << true << 1;
        QTest::newRow("large file: last content byte withheld")
            << 0 << out << qulonglong(l.fileHeader[2] + 4112 + 300000 - 1) << true << true << 1;
        QTest::newRow("last file: mid-unit")
            << 0 << out << qulonglong(l.fileHeader[3] + 4112 + 2500) << true << true << 1;
        QTest::newRow("application tag: byte 1") << 0 << out << qulonglong(l.tag + 1) << true << false << 0;
        QTest::newRow("application list: mid") << 0 << out << qulonglong(l.tag + 2 + 4 + 3) << true << false << 0;
        QTest::newRow("receiver side: free space byte 8") << 0 << back << 10ull << true << true << 1;
        QTest::newRow("receiver side: just before the first result byte")
            << 0 << back << qulonglong(l.resultByte[0]) << true << true << 1;
        QTest::newRow("receiver side: just before the large file's result byte")
            << 0 << back << qulonglong(l.resultByte[2]) << true << true << -1;
        QTest::newRow("receiver side: just before the last result byte")
            << 0 << back << qulonglong(l.resultByte[3]) << true << true << -1;
        QTest::newRow("receiver side: just before \"S3\"")
            << 0 << back << qulonglong(l.installStarted) << true << false << 0;
        QTest::newRow("receiver side: inside the report length")
            << 0 << back << qulonglong(l.installStarted + 2 + 2) << true << false << 0;
        QTest::newRow("receiver side: just before the end mark")
            << 0 << back << qulonglong(l.endMark) << true << false << 0;
        QTest::newRow("receiver side: between the end mark's bytes")
            << 0 << back << qulonglong(l.endMark + 1) << true << false << 0;

        // Many small files around a large one: the sender is several files ahead of their results.
        const Layout f(1);
        QTest::newRow("in flight: header of file 3, byte 2000")
            << 1 << out << qulonglong(f.fileHeader[3] + 2000) << true << true << 1;
        QTest::newRow("in flight: content of file 6, mid-unit")
            << 1 << out << qulonglong(f.fileHeader[6] + 4112 + 700) << true << true << 1;
        QTest::newRow("in flight: large file, unit boundary")
            << 1 << out << qulonglong(f.fileHeader[9] + 4112 + 100 * 1024) << true << true << 1;
        QTest::newRow("in flight: header of file 12, its first byte")
            << 1 << out << qulonglong(f.fileHeader[12]) << true << true << 1;
        QTest::newRow("in flight: last file, last content byte withheld")
            << 1 << out << qulonglong(f.fileHeader[15] + 4112 + 1500 + 211 * 15 - 1) << true << true << 1;
        for (const int k : {0, 1, 4, 8, 9, 10, 14, 15}) {
            QTest::newRow(qPrintable(QString("in flight, receiver side: just before result %1").arg(k)))
                << 1 << back << qulonglong(f.resultByte[std::size_t(k)]) << true << true << (k == 0 ? 1 : -1);
        }
        QTest::newRow("in flight, receiver side: just before \"S3\"")
            << 1 << back << qulonglong(f.installStarted) << true << false << 0;
    }

    void cut()
    {
        QFETCH(int, fileSet);
        set = fileSet;
        QFETCH(int, direction);
        QFETCH(qulonglong, offset);
        QFETCH(bool, pairs);
        QFETCH(bool, inFiles);
        QFETCH(int, receiverBroken);
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
            // Results cut off on their way back can confirm nothing.
            const Layout l(set);
            std::size_t confirmable = l.resultByte.size();
            if (static_cast<Direction>(direction) == Direction::ReceiverToSender) {
                confirmable = static_cast<std::size_t>(
                    std::count_if(l.resultByte.begin(), l.resultByte.end(), [&](uint64_t at) { return at < offset; }));
            }
            checkReport(sender.observer.results(), arrived, inFiles, confirmable);
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
            if (receiverBroken >= 0) {
                QCOMPARE(finished[0], receiverBroken);
            }
            QCOMPARE(shownBroken, finished[0] == 1);
        }

        // The same sender, still paired or not, migrates everything on a new connection.
        receiver->events.clear();
        Sender again;
        again.paired = sender.paired;
        migrateAgain(again);
    }

    // Between two copies of this program the stream is encrypted frames: a cut anywhere, or one changed
    // byte (a party on the path tampering with it), ends the migration as a lost connection with the same
    // guarantees, and the sender comes back by the secret of its pairing (or by the code when the receiver
    // never completed it). Offsets below 1 are fractions of that direction's bytes in a whole migration.
    void secureCut_data()
    {
        QTest::addColumn<int>("fileSet");
        QTest::addColumn<int>("direction");
        QTest::addColumn<double>("where");
        QTest::addColumn<bool>("flip");
        QTest::addColumn<int>("pairs"); // 1: the sender counts as paired, 0: not, -1: either

        const int out = static_cast<int>(Direction::SenderToReceiver);
        const int back = static_cast<int>(Direction::ReceiverToSender);
        QTest::newRow("cut in the opening") << 0 << out << 20.0 << false << 0;
        QTest::newRow("cut in the reply") << 0 << back << 30.0 << false << 0;
        QTest::newRow("cut in the finish") << 0 << out << 57.0 + 16 << false << 1;
        QTest::newRow("cut in the free space frame") << 0 << back << 65.0 + 24 + 10 << false << 1;
        for (const int s : {0, 1}) {
            for (const double at : {0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.999}) {
                QTest::newRow(qPrintable(QString("set %1: cut at %2 of the sender's bytes").arg(s).arg(at)))
                    << s << out << at << false << 1;
            }
            for (const double at : {0.5, 0.9, 0.99}) {
                QTest::newRow(qPrintable(QString("set %1: cut at %2 of the receiver's bytes").arg(s).arg(at)))
                    << s << back << at << false << 1;
            }
            for (const double at : {0.02, 0.4, 0.8, 0.999}) {
                QTest::newRow(qPrintable(QString("set %1: byte changed at %2 of the sender's bytes").arg(s).arg(at)))
                    << s << out << at << true << 1;
            }
            for (const double at : {0.5, 0.95}) {
                QTest::newRow(qPrintable(QString("set %1: byte changed at %2 of the receiver's bytes").arg(s).arg(at)))
                    << s << back << at << true << 1;
            }
        }
    }

    void secureCut()
    {
        QFETCH(int, fileSet);
        set = fileSet;
        QFETCH(int, direction);
        QFETCH(double, where);
        QFETCH(bool, flip);
        QFETCH(int, pairs);
        ++cutsTried;

        if (secureTotals.find(set) == secureTotals.end()) {
            Sender whole;
            whole.secure = true;
            QCOMPARE(whole.open(ProxyPort), Sender::Opened::Ready);
            whole.start(plan());
            QVERIFY(whole.finish());
            for (const ItemResult& item : whole.observer.results()) {
                QVERIFY(item.code == 0 || item.name == "hello");
            }
            waitReceiverIdle();
            secureTotals[set]
                = {proxy->forwarded(Direction::SenderToReceiver), proxy->forwarded(Direction::ReceiverToSender)};
            cleanup();
            init();
        }
        const auto totals = secureTotals[set];
        const uint64_t total
            = static_cast<Direction>(direction) == Direction::SenderToReceiver ? totals.first : totals.second;
        const uint64_t offset = where >= 1 ? static_cast<uint64_t>(where) : static_cast<uint64_t>(where * total);
        QVERIFY(offset < total);
        if (flip) {
            proxy->armFlip(static_cast<Direction>(direction), offset);
        } else {
            proxy->arm(static_cast<Direction>(direction), offset);
        }

        Sender sender;
        sender.secure = true;
        const Sender::Opened opened = sender.open(ProxyPort, Code, 20000);
        if (opened == Sender::Opened::Ready) {
            sender.start(plan());
            QVERIFY2(sender.finish(), "the sender's run did not end after the loss");
        } else {
            QVERIFY2(opened == Sender::Opened::PairingLost || opened == Sender::Opened::FreeSpaceLost,
                "the sender did not notice the loss while pairing");
        }
        QTRY_VERIFY_WITH_TIMEOUT(proxy->cut(), 20000);
        if (pairs >= 0) {
            QCOMPARE(sender.paired, pairs == 1);
        }
        waitReceiverIdle();

        std::map<std::string, bool> arrived;
        checkDestinations(arrived);
        if (QTest::currentTestFailed()) {
            return;
        }
        if (opened == Sender::Opened::Ready) {
            checkEachOnce(sender.observer.results(), arrived);
            if (QTest::currentTestFailed()) {
                return;
            }
        }
        const std::vector<int> finished = receiver->events.finishedCodes();
        const auto texts = receiver->events.items();
        const bool shownBroken = std::find(texts.begin(), texts.end(), std::string(u8"连接中断")) != texts.end();
        QVERIFY(finished.size() <= 1);
        if (flip && static_cast<Direction>(direction) == Direction::SenderToReceiver) {
            // The changed frame never opens: the receiver lost the connection.
            QCOMPARE(finished, std::vector<int> {1});
        }
        if (!finished.empty()) {
            QCOMPARE(shownBroken, finished[0] == 1);
        }

        receiver->events.clear();
        Sender again;
        again.secure = true;
        again.paired = sender.paired;
        again.resumeSecret = sender.resumeSecret;
        migrateAgain(again);
        // Only a receiver that never completed the pairing asks for the code again.
        QCOMPARE(again.resumeRefused, where == 57.0 + 16);
    }
};

MOVANTA_TEST_MAIN(TestRobustCut)
#include "tst_robustcut.moc"
