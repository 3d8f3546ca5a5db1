#include "testmain.h"

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "scriptedsender.h"
#include "treefiles.h"
#include "tst_capture_link.h"
#include "twocomputers.h"

// Two programs on two computers joined by a veth pair, every frame on the link recorded from the receiver's
// end during a whole migration: what a listener on the home network gets to see.
namespace {

// Sizes around the protocol's 1024-byte units and well beyond, so content travels in many segments.
const std::vector<int> FileSizes {32, 33, 1000, 1024, 1025, 4096, 65543, 200000, 333333};

struct Outcome
{
    std::size_t frames = 0;
    uint64_t linkBytes = 0;
    uint64_t streamBytes = 0;
    std::size_t streams = 0;
    WindowSearch::Hits content;
    uint64_t filesFound = 0;
    uint64_t codePlain = 0;
    uint64_t codeXored = 0;
    uint64_t lost = 0;
};

// The code XORed with itself from each position but the first (which gives zeros, and zeros are everywhere
// on a wire): how the code would look inside a unit keyed with it.
std::vector<std::string> xoredCodes(const std::string& code)
{
    std::vector<std::string> out;
    for (std::size_t phase = 1; phase < code.size(); ++phase) {
        std::string masked(code.size(), '\0');
        for (std::size_t i = 0; i < code.size(); ++i) {
            masked[i] = static_cast<char>(code[i] ^ code[(i + phase) % code.size()]);
        }
        if (masked.find_first_not_of('\0') != std::string::npos) {
            out.push_back(masked);
        }
    }
    return out;
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private:
    QString expectReply(Peer& peer, const QString& line, const QString& startsWith, int timeoutMs = 180000)
    {
        const QString reply = peer.command(line, timeoutMs);
        if (!reply.startsWith(startsWith)) {
            qWarning().noquote() << peer.tail();
        }
        return reply;
    }

    // The old computer as a script of the protocol's bytes, its socket made in the sender computer's network.
    void connectScripted(ScriptedSender& script, pid_t senderComputer)
    {
        script.setDestination("10.216.0.1");
        const int own = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int there
            = ::open(QString("/proc/%1/ns/net").arg(senderComputer).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        // Only this thread moves, and only for the connect: the socket stays in the sender's network.
        const bool moved = own >= 0 && there >= 0 && ::setns(there, CLONE_NEWNET) == 0;
        const bool connected = moved && script.connectTo(nullptr, 30000);
        const bool back = !moved || ::setns(own, CLONE_NEWNET) == 0;
        for (int fd : {own, there}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        QVERIFY(back);
        QVERIFY2(moved, "cannot enter the sender computer's network");
        QVERIFY(connected);
    }

    void sendScripted(
        ScriptedSender& script, const std::string& code, const std::vector<std::pair<QString, std::string>>& files)
    {
        QCOMPARE(script.pair(code), std::string("S0"));
        uint64_t total = 0, free = 0;
        QVERIFY(script.readFreeSpace(total, free));
        uint64_t bytes = 0;
        for (const auto& file : files) {
            bytes += file.second.size();
        }
        QVERIFY(script.sendTransferHeader(files.size(), bytes));
        for (const auto& file : files) {
            QCOMPARE(script.sendFile(("/home/alice/" + file.first).toStdString(), 11, file.second), 0);
        }
        QVERIFY(script.finishWithoutApps());
        QVERIFY(script.waitClosed());
    }

private slots:
    void initTestCase()
    {
#ifndef MOVANTA_E2E_PEER
        skipTest("the peer program was not built");
#else
        if (!QFileInfo(MOVANTA_E2E_PEER).isExecutable()) {
            skipTest(QString("the peer program %1 is missing").arg(MOVANTA_E2E_PEER));
        }
#endif
    }

    void wireUnderCapture_data()
    {
        QTest::addColumn<quint32>("withheld");
        QTest::addColumn<bool>("scriptedSender");
        QTest::addColumn<bool>("encrypted");
        // Between two copies nothing of the home and nothing of the code crosses the link readable.
        QTest::newRow("two copies") << quint32(0) << false << true;
        // A receiver that announces no abilities is one built from the protocol alone, and so is a sender
        // that speaks it byte for byte: the migration still works, in plain, and the capture must find the
        // content; that proves it sees the traffic at all.
        QTest::newRow("receiver without the mark") << quint32(0xffffffff) << false << false;
        QTest::newRow("sender of the protocol alone") << quint32(0) << true << false;
    }

    void wireUnderCapture()
    {
#ifdef MOVANTA_E2E_PEER
        QFETCH(quint32, withheld);
        QFETCH(bool, scriptedSender);
        QFETCH(bool, encrypted);
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QString senderHome = base.filePath("old-pc/home/alice");
        const QString receiverHome = base.filePath("new-pc/home/alice");
        const QString senderWork = base.filePath("sender-work");
        const QString receiverWork = base.filePath("receiver-work");
        for (const QString& d : {senderHome, receiverHome, senderWork, receiverWork}) {
            QVERIFY(QDir().mkpath(d));
        }
        // Distinctive content: random per run, so nothing on the wire matches it by chance.
        std::random_device entropy;
        std::vector<std::pair<QString, std::string>> files;
        for (std::size_t i = 0; i < FileSizes.size(); ++i) {
            const QByteArray bytes = TreeFiles::bytes(FileSizes[i], entropy());
            const QString relative = QString("文档/capture-%1.bin").arg(i);
            QVERIFY(TreeFiles::writeFile(senderHome + "/" + relative, bytes));
            files.emplace_back(relative, bytes.toStdString());
        }

        TwoComputers computers(MOVANTA_E2E_PEER, "10.216.0.1/24", "10.216.0.2/24");
        QVERIFY2(
            computers.start({receiverHome, receiverWork}, {senderHome, senderWork}), qPrintable(computers.error()));
        Peer& receiver = computers.receiver();
        Peer& sender = computers.sender();
        LinkCapture capture;
        std::string error;
        if (!capture.start(static_cast<pid_t>(receiver.pid()), "mvr0", error)) {
            skipTest(QString::fromStdString("cannot record the link: " + error));
        }

        QCOMPARE(expectReply(receiver, QString("withhold %1").arg(withheld), "withheld"), QString("withheld"));
        QCOMPARE(expectReply(receiver, "role", "ok"), QString("ok"));
        QString code;
        if (scriptedSender) {
            // The receiver shows its code once a sender has connected.
            ScriptedSender script;
            connectScripted(script, static_cast<pid_t>(sender.pid()));
            if (QTest::currentTestFailed()) {
                return;
            }
            code = expectReply(receiver, "code", "code ").mid(5);
            QVERIFY2(code.size() == 6, qPrintable(code));
            sendScripted(script, code.toStdString(), files);
            if (QTest::currentTestFailed()) {
                return;
            }
        } else {
            QCOMPARE(expectReply(sender, "role", "ok"), QString("ok"));
            const QString cards = expectReply(sender, "cards 1", "cards", 150000);
            QVERIFY2(cards.endsWith("@10.216.0.1"), qPrintable(cards));
            QCOMPARE(expectReply(sender, "click", "pairing"), QString("pairing"));
            code = expectReply(receiver, "code", "code ").mid(5);
            QVERIFY2(code.size() == 6, qPrintable(code));
            QVERIFY2(expectReply(sender, "type " + code, "selecting").startsWith("selecting"), qPrintable(code));
            QVERIFY(expectReply(sender, "select 用户数据", "selected").startsWith("selected"));
            const QString report = expectReply(sender, "start", "report");
            const QStringList fields = report.mid(7).split('|');
            QVERIFY2(fields.size() >= 4, qPrintable(report));
            QCOMPARE(fields[0], QString("2"));
            QCOMPARE(fields[3], QString("0"));
        }
        QCOMPARE(expectReply(receiver, "waitdone 1", "done"), QString("done 0|迁移完成，请在旧电脑上查看报告"));
        // The pages say which kind of connection it was; checked last, after the capture's verdict.
        const QString shown = encrypted ? QStringLiteral("加密连接") : QStringLiteral("未加密：对方为旧版本");
        const QString senderShows
            = scriptedSender ? QString("shows yes") : expectReply(sender, "shows " + shown, "shows");
        const QString receiverShows = expectReply(receiver, "shows " + shown, "shows");
        QVERIFY(computers.quitBoth());
        capture.stop();

        for (const auto& file : files) {
            QVERIFY2(TreeFiles::readFile(receiverHome + "/" + file.first) == QByteArray::fromStdString(file.second),
                qPrintable(file.first));
        }

        // What the link carried: every frame whole, and each TCP direction's bytes in order.
        const TcpStreams tcp = reassemble(capture.frames());
        std::vector<const std::string*> pieces;
        for (const std::string& frame : capture.frames()) {
            pieces.push_back(&frame);
        }
        for (const std::string& stream : tcp.streams) {
            pieces.push_back(&stream);
        }
        const WindowSearch search(pieces);
        Outcome seen;
        seen.frames = capture.frames().size();
        for (const std::string& frame : capture.frames()) {
            seen.linkBytes += frame.size();
        }
        seen.streams = tcp.streams.size();
        seen.streamBytes = search.bytes() - seen.linkBytes;
        seen.lost = capture.dropped() + capture.truncated();
        const std::string key = code.toStdString();
        for (const auto& file : files) {
            const WindowSearch::Hits hits = search.search(file.second, key);
            seen.content.windows += hits.windows;
            seen.content.plain += hits.plain;
            seen.content.xored += hits.xored;
            seen.filesFound += hits.plain + hits.xored > 0 ? 1 : 0;
        }
        seen.codePlain = search.count(key);
        for (const std::string& masked : xoredCodes(key)) {
            seen.codeXored += search.count(masked);
        }
        std::printf("capture, %s: %zu frames, %llu bytes on the link (%llu dropped or cut), %zu TCP streams with "
                    "%llu bytes (%llu bytes never seen); %llu windows of 32 bytes in %zu files checked as they are "
                    "and XORed with the code at each of its 6 positions: %llu found as they are, %llu found XORed, "
                    "in %llu of %zu files; the code %s: %llu times as it is, %llu times XORed\n",
            QTest::currentDataTag(), seen.frames, static_cast<unsigned long long>(seen.linkBytes),
            static_cast<unsigned long long>(seen.lost), seen.streams, static_cast<unsigned long long>(seen.streamBytes),
            static_cast<unsigned long long>(tcp.holes), static_cast<unsigned long long>(seen.content.windows),
            files.size(), static_cast<unsigned long long>(seen.content.plain),
            static_cast<unsigned long long>(seen.content.xored), static_cast<unsigned long long>(seen.filesFound),
            files.size(), qPrintable(code), static_cast<unsigned long long>(seen.codePlain),
            static_cast<unsigned long long>(seen.codeXored));
        std::fflush(stdout);

        // A record with gaps proves nothing either way.
        QCOMPARE(seen.lost, uint64_t(0));
        QCOMPARE(tcp.holes, uint64_t(0));
        uint64_t contentBytes = 0;
        for (const auto& file : files) {
            contentBytes += file.second.size();
        }
        QVERIFY2(seen.streamBytes > contentBytes, "the capture holds less than the files' content");
        if (encrypted) {
            QCOMPARE(seen.content.plain, uint64_t(0));
            QCOMPARE(seen.content.xored, uint64_t(0));
            QCOMPARE(seen.codePlain, uint64_t(0));
            QCOMPARE(seen.codeXored, uint64_t(0));
        } else {
            // The code crosses in plain, every file's content XORed with it; only windows across the start
            // of a 1024-byte unit (where the key starts again) cannot match, 31 of every 1024.
            QVERIFY(seen.codePlain >= 1);
            QCOMPARE(seen.filesFound, uint64_t(files.size()));
            QVERIFY2(seen.content.plain + seen.content.xored >= seen.content.windows * 9 / 10,
                "less than 90 % of the content found in a capture of a plain migration");
        }
        QCOMPARE(senderShows, QString("shows yes"));
        QCOMPARE(receiverShows, QString("shows yes"));
#endif
    }
};

MOVANTA_TEST_MAIN(TestCapture)
#include "tst_capture.moc"
