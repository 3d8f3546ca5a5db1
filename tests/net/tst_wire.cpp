#include <thread>
#include <vector>

#include "testmain.h"

#include "loopback.h"
#include "net/byteorder.h"
#include "net/socket.h"
#include "net/tcpclient.h"
#include "net/wire.h"

using NetTest::Fd;

namespace {

std::vector<char> keyOf(const QByteArray& key)
{
    return std::vector<char>(key.begin(), key.end());
}

std::string keyed(std::string bytes, const std::vector<char>& key)
{
    Socket::applyKey(&bytes[0], bytes.size(), key);
    return bytes;
}

std::string u32(uint32_t v)
{
    char b[4];
    ByteOrder::putU32(b, v);
    return std::string(b, 4);
}

} // namespace

class WireTest : public QObject
{
    Q_OBJECT

private slots:
    void pairingCodeTravelsPlain();
    void shortCodeReadIsDropped();
    void pairReply_data();
    void pairReply();
    void pairReplySplitLeavesNothingBehind();

    void migrationRoundTrip_data();
    void migrationRoundTrip();
    void recordsAreKeyedFromPositionZero();
    void keyRepeatsFromDataStart_data();
    void keyRepeatsFromDataStart();

    void contentInOneCallMatchesUnitByUnit_data();
    void contentInOneCallMatchesUnitByUnit();
    void contentReadInOneCallUndoesUnits_data();
    void contentReadInOneCallUndoesUnits();

    void appListChecks_data();
    void appListChecks();
    void emptyOrOversizedListGoesAsNoApps_data();
    void emptyOrOversizedListGoesAsNoApps();
    void reportCountsItsTerminator();
    void oversizedReportIsRefused();
    void fileHeaderWithoutTerminator();
    void lostConnectionFailsEveryHelper();
};

void WireTest::pairingCodeTravelsPlain()
{
    TCP::Client sender;
    Fd peer;
    QVERIFY(NetTest::connectRaw(sender, peer));
    // Even a record that still holds a key from before sends the code in plain.
    sender.key = keyOf("999999");
    QVERIFY(Wire::sendCode(sender, "482913"));
    QCOMPARE(NetTest::readRaw(peer.get(), 6), std::string("482913"));

    TCP::Client s2;
    TCP::Client receiver;
    QVERIFY(NetTest::connectPair(s2, receiver));
    QVERIFY(Wire::sendCode(s2, "012345"));
    std::string code;
    QVERIFY(Wire::recvCode(receiver, code));
    QCOMPARE(code, std::string("012345"));
}

void WireTest::shortCodeReadIsDropped()
{
    TCP::Client sender;
    TCP::Client receiver;
    QVERIFY(NetTest::connectPair(sender, receiver));
    QVERIFY(Wire::sendCode(sender, "12345"));
    std::string code = "stale";
    QVERIFY(!Wire::recvCode(receiver, code));
    QVERIFY(code.empty());
    QCOMPARE(receiver.state.load(), TCP::Connected);
    // The next read starts afresh.
    QVERIFY(Wire::sendCode(sender, "654321"));
    QVERIFY(Wire::recvCode(receiver, code));
    QCOMPARE(code, std::string("654321"));
}

void WireTest::pairReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("expected");
    QTest::newRow("S0 pairs") << QByteArray("S0") << 1;
    QTest::newRow("S1 is a wrong code") << QByteArray("S1") << 0;
    QTest::newRow("only the second byte counts") << QByteArray("X0") << 1;
    QTest::newRow("other bytes do not pair") << QByteArray("SS") << 0;
    QTest::newRow("one byte, then the peer goes") << QByteArray("S") << -1;
    QTest::newRow("nothing, then the peer goes") << QByteArray() << -1;
}

void WireTest::pairReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, expected);
    TCP::Client sender;
    Fd peer;
    QVERIFY(NetTest::connectRaw(sender, peer));
    QVERIFY(NetTest::writeRaw(peer.get(), reply.toStdString()));
    if (reply.size() < 2) {
        peer.reset();
    }
    QCOMPARE(Wire::recvPairReply(sender), expected);
}

void WireTest::pairReplySplitLeavesNothingBehind()
{
    TCP::Client sender;
    Fd peer;
    QVERIFY(NetTest::connectRaw(sender, peer));
    const std::vector<char> key = keyOf("482913");
    std::thread receiver([&] {
        NetTest::writeRaw(peer.get(), "S");
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        NetTest::writeRaw(peer.get(), "0");
        // The receiver switches keys after its reply; the free-space report comes keyed.
        char fs[16];
        FreeSpaceMessage m;
        m.total = 100;
        m.free = 40;
        m.encode(fs);
        NetTest::writeRaw(peer.get(), keyed(std::string(fs, 16), key));
    });
    QCOMPARE(Wire::recvPairReply(sender), 1);
    sender.key = key;
    FreeSpaceMessage m;
    QVERIFY(Wire::recvFreeSpace(sender, m));
    receiver.join();
    QCOMPARE(m.total, uint64_t(100));
    QCOMPARE(m.free, uint64_t(40));
}

void WireTest::migrationRoundTrip_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("plain (a second connection to a paired page)") << QByteArray();
    QTest::newRow("keyed with the pairing code") << QByteArray("482913");
}

void WireTest::migrationRoundTrip()
{
    QFETCH(QByteArray, key);
    TCP::Client sender;
    TCP::Client receiver;
    QVERIFY(NetTest::connectPair(sender, receiver));
    sender.key = keyOf(key);
    receiver.key = keyOf(key);

    FreeSpaceMessage space;
    space.total = 512ull << 30;
    space.free = 100ull << 30;
    QVERIFY(Wire::sendFreeSpace(receiver, space));
    FreeSpaceMessage gotSpace;
    QVERIFY(Wire::recvFreeSpace(sender, gotSpace));
    QCOMPARE(gotSpace.total, space.total);
    QCOMPARE(gotSpace.free, space.free);

    TransferHeader header;
    header.fileCount = 2;
    header.totalBytes = 1025 + 0 + 2000;
    QVERIFY(Wire::sendTransferHeader(sender, header));
    TransferHeader gotHeader;
    QVERIFY(Wire::recvTransferHeader(receiver, gotHeader));
    QCOMPARE(gotHeader.fileCount, uint64_t(2));
    QCOMPARE(gotHeader.totalBytes, uint64_t(3025));

    // A file of 1025 bytes (two units), then an empty one (no unit).
    const std::string content = NetTest::pattern(1025, 5);
    for (uint64_t size : {uint64_t(1025), uint64_t(0)}) {
        FileHeader fh;
        fh.path = "/home/anna/file" + std::to_string(size);
        fh.homePrefixLength = 10;
        fh.size = size;
        QVERIFY(Wire::sendFileHeader(sender, fh));
        for (uint64_t at = 0; at < size; at += Wire::Unit) {
            QVERIFY(Wire::sendContentUnit(sender, content.data() + at, Wire::unitSize(size - at)));
        }
        FileHeader got;
        bool terminated = false;
        QVERIFY(Wire::recvFileHeader(receiver, got, &terminated));
        QVERIFY(terminated);
        QCOMPARE(got.path, fh.path);
        QCOMPARE(got.homePrefixLength, 10u);
        QCOMPARE(got.size, size);
        std::string received;
        char unit[Wire::Unit];
        for (uint64_t at = 0; at < got.size; at += Wire::Unit) {
            const std::size_t n = Wire::unitSize(got.size - at);
            QVERIFY(Wire::recvContentUnit(receiver, unit, n));
            received.append(unit, n);
        }
        QCOMPARE(received, content.substr(0, size));
        QVERIFY(Wire::sendFileResult(receiver, size ? 0 : 4));
        uint8_t result = 99;
        QVERIFY(Wire::recvFileResult(sender, result));
        QCOMPARE(result, uint8_t(size ? 0 : 4));
    }

    QVERIFY(Wire::sendAppList(sender, "vim htop "));
    std::string list;
    QCOMPARE(Wire::recvAppList(receiver, list), Wire::AppListRead::List);
    QCOMPARE(list, std::string("vim htop "));
    QVERIFY(Wire::sendInstallStarted(receiver));
    QVERIFY(Wire::recvInstallStarted(sender));
    QVERIFY(Wire::sendReport(receiver, "vim\n3900\nhtop\n300\n"));
    std::string report;
    QVERIFY(Wire::recvReport(sender, report));
    QCOMPARE(report, std::string("vim\n3900\nhtop\n300\n"));
    QVERIFY(Wire::sendEndMark(receiver));
    QVERIFY(Wire::recvEndMark(sender));

    // Both ends in step: nothing is left over.
    QVERIFY(!sender.WaitReadable(50));
}

void WireTest::recordsAreKeyedFromPositionZero()
{
    TCP::Client sender;
    Fd peer;
    QVERIFY(NetTest::connectRaw(sender, peer));
    const std::vector<char> key = keyOf("482913");
    sender.key = key;
    TransferHeader h;
    h.fileCount = 1;
    h.totalBytes = 2;
    QVERIFY(Wire::sendTransferHeader(sender, h));
    QVERIFY(Wire::sendFileResult(sender, 0));
    QVERIFY(Wire::sendNoApps(sender));
    const std::string wire = NetTest::readRaw(peer.get(), 16 + 1 + 2);
    // Hand-keyed: fileCount 1 and totalBytes 2 under "482913", then one byte under '4', then "S0" under "48".
    QCOMPARE(wire,
        std::string("5829134809134829"
                    "4"
                    "g\x08",
            19));
}

void WireTest::keyRepeatsFromDataStart_data()
{
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<int>("size");
    // Key lengths that divide the internal run, that do not, and keys longer than it.
    for (int keyLength : {1, 6, 7, 1000, 4096, 4097, 5000}) {
        for (int size : {0, 1, 5, 4095, 4096, 4112, 9001}) {
            QTest::newRow(qPrintable(QString("key %1, %2 bytes").arg(keyLength).arg(size))) << keyLength << size;
        }
    }
}

void WireTest::keyRepeatsFromDataStart()
{
    QFETCH(int, keyLength);
    QFETCH(int, size);
    const std::string keyText = NetTest::pattern(static_cast<std::size_t>(keyLength), 3);
    const std::vector<char> key(keyText.begin(), keyText.end());
    const std::string plain = NetTest::pattern(static_cast<std::size_t>(size), 5);

    std::string expected = plain;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i] = char(expected[i] ^ key[i % key.size()]);
    }
    std::string data = plain;
    Socket::applyKey(&data[0], data.size(), key);
    QVERIFY(data == expected);

    std::string pad(static_cast<std::size_t>(size), '\0');
    Socket::fillKeyPad(&pad[0], pad.size(), key);
    for (std::size_t i = 0; i < pad.size(); ++i) {
        QCOMPARE(pad[i], key[i % key.size()]);
    }
}

void WireTest::contentInOneCallMatchesUnitByUnit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("key");
    for (const QByteArray& key : {QByteArray(), QByteArray("482913")}) {
        const char* k = key.isEmpty() ? "plain" : "keyed";
        for (int size : {0, 1, 1024, 1025, 3072, 5000, 200000}) {
            QTest::newRow(qPrintable(QString("%1 bytes, %2").arg(size).arg(k))) << size << key;
        }
    }
}

void WireTest::contentInOneCallMatchesUnitByUnit()
{
    QFETCH(int, size);
    QFETCH(QByteArray, key);
    const std::string content = NetTest::pattern(static_cast<std::size_t>(size), 11);

    TCP::Client byUnits;
    Fd peerA;
    QVERIFY(NetTest::connectRaw(byUnits, peerA));
    byUnits.key = keyOf(key);
    TCP::Client atOnce;
    Fd peerB;
    QVERIFY(NetTest::connectRaw(atOnce, peerB));
    atOnce.key = keyOf(key);

    std::thread senders([&] {
        for (std::size_t at = 0; at < content.size(); at += Wire::Unit) {
            Wire::sendContentUnit(byUnits, content.data() + at, Wire::unitSize(content.size() - at));
        }
        Wire::sendContent(atOnce, content.data(), content.size());
    });
    const std::string a = NetTest::readRaw(peerA.get(), content.size());
    const std::string b = NetTest::readRaw(peerB.get(), content.size());
    senders.join();
    QCOMPARE(a.size(), content.size());
    QVERIFY(a == b);
    if (!key.isEmpty() && size > 1024) {
        // The second unit starts again at key byte 0.
        QCOMPARE(char(a[1024] ^ content[1024]), '4');
    }
}

void WireTest::contentReadInOneCallUndoesUnits_data()
{
    contentInOneCallMatchesUnitByUnit_data();
}

void WireTest::contentReadInOneCallUndoesUnits()
{
    QFETCH(int, size);
    QFETCH(QByteArray, key);
    const std::string content = NetTest::pattern(static_cast<std::size_t>(size), 13);
    TCP::Client sender;
    TCP::Client receiver;
    QVERIFY(NetTest::connectPair(sender, receiver));
    sender.key = keyOf(key);
    receiver.key = keyOf(key);
    std::thread send([&] {
        for (std::size_t at = 0; at < content.size(); at += Wire::Unit) {
            Wire::sendContentUnit(sender, content.data() + at, Wire::unitSize(content.size() - at));
        }
    });
    std::vector<char> into(content.size() + 1);
    const bool ok = Wire::recvContent(receiver, into.data(), content.size());
    send.join();
    QVERIFY(ok);
    QVERIFY(std::string(into.data(), content.size()) == content);
}

void WireTest::appListChecks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("closeAfter");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QByteArray>("list");
    const auto len = [](uint32_t v) { return QByteArray::fromStdString(u32(v)); };
    const int none = int(Wire::AppListRead::NoList);
    const int list = int(Wire::AppListRead::List);
    const int tooLong = int(Wire::AppListRead::TooLong);
    QTest::newRow("S0: no applications") << QByteArray("S0") << false << none << QByteArray();
    QTest::newRow("one package and its space") << "S1" + len(4) + "vim " << false << list << QByteArray("vim ");
    QTest::newRow("only the second tag byte counts") << "X1" + len(4) + "vim " << false << list << QByteArray("vim ");
    QTest::newRow("S2 is no list") << QByteArray("S2") << false << none << QByteArray();
    QTest::newRow("tag cut short") << QByteArray("S") << true << none << QByteArray();
    QTest::newRow("length cut short") << "S1" + len(4).left(2) << true << none << QByteArray();
    QTest::newRow("list cut short") << "S1" + len(8) + "vim " << true << none << QByteArray();
    QTest::newRow("length 0 is refused") << "S1" + len(0) << false << tooLong << QByteArray();
    QTest::newRow("length 4294967295 is refused") << "S1" + len(0xffffffffu) << false << tooLong << QByteArray();
    QTest::newRow("one byte over the limit is refused")
        << "S1" + len(Wire::MaxAppListLength + 1) << false << tooLong << QByteArray();
}

void WireTest::appListChecks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, closeAfter);
    QFETCH(int, expected);
    QFETCH(QByteArray, list);
    TCP::Client receiver;
    Fd peer;
    QVERIFY(NetTest::connectRaw(receiver, peer));
    QVERIFY(NetTest::writeRaw(peer.get(), bytes.toStdString()));
    if (closeAfter) {
        peer.reset();
    }
    std::string got = "stale";
    QCOMPARE(int(Wire::recvAppList(receiver, got)), expected);
    QCOMPARE(QByteArray::fromStdString(got), list);
}

void WireTest::emptyOrOversizedListGoesAsNoApps_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("sent");
    QTest::newRow("empty list") << 0 << true;
    QTest::newRow("longer than any receiver takes") << int(Wire::MaxAppListLength + 1) << false;
}

void WireTest::emptyOrOversizedListGoesAsNoApps()
{
    QFETCH(int, length);
    QFETCH(bool, sent);
    TCP::Client sender;
    Fd peer;
    QVERIFY(NetTest::connectRaw(sender, peer));
    QCOMPARE(Wire::sendAppList(sender, std::string(static_cast<std::size_t>(length), 'a')), sent);
    QCOMPARE(NetTest::readRaw(peer.get(), 2), std::string("S0"));
    QVERIFY(NetTest::readRaw(peer.get(), 1, 50).empty());
}

void WireTest::reportCountsItsTerminator()
{
    TCP::Client receiver;
    Fd peer;
    QVERIFY(NetTest::connectRaw(receiver, peer));
    QVERIFY(Wire::sendReport(receiver, "vim\n3900\n"));
    QCOMPARE(NetTest::readRaw(peer.get(), 4 + 10), u32(10) + std::string("vim\n3900\n\0", 10));
    QVERIFY(Wire::sendReport(receiver, ""));
    QCOMPARE(NetTest::readRaw(peer.get(), 5), u32(1) + std::string(1, '\0'));

    // Text after the first NUL is not part of the report.
    QVERIFY(NetTest::writeRaw(peer.get(), u32(6) + std::string("ab\n\0zz", 6)));
    std::string report;
    QVERIFY(Wire::recvReport(receiver, report));
    QCOMPARE(report, std::string("ab\n"));
}

void WireTest::oversizedReportIsRefused()
{
    TCP::Client sender;
    Fd peer;
    QVERIFY(NetTest::connectRaw(sender, peer));
    QVERIFY(NetTest::writeRaw(peer.get(), u32(0xffffffffu)));
    std::string report = "stale";
    QVERIFY(!Wire::recvReport(sender, report));
    QVERIFY(report.empty());
}

void WireTest::fileHeaderWithoutTerminator()
{
    TCP::Client receiver;
    Fd peer;
    QVERIFY(NetTest::connectRaw(receiver, peer));
    std::string raw(FileHeader::Size, 'a');
    raw.replace(4096, 16, std::string(16, '\0'));
    QVERIFY(NetTest::writeRaw(peer.get(), raw));
    FileHeader h;
    bool terminated = true;
    QVERIFY(Wire::recvFileHeader(receiver, h, &terminated));
    QVERIFY(!terminated);
    QCOMPARE(h.path.size(), std::size_t(4096));
    QCOMPARE(h.size, uint64_t(0));
}

void WireTest::lostConnectionFailsEveryHelper()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    peer.reset();
    FreeSpaceMessage fs;
    QVERIFY(!Wire::recvFreeSpace(c, fs));
    QCOMPARE(c.state.load(), TCP::Closed);

    TransferHeader th;
    FileHeader fh;
    uint8_t result = 0;
    std::string text;
    char unit[16];
    QVERIFY(!Wire::sendCode(c, "123456"));
    QVERIFY(!Wire::recvCode(c, text));
    QVERIFY(!Wire::sendPairReply(c, true));
    QCOMPARE(Wire::recvPairReply(c), -1);
    QVERIFY(!Wire::sendFreeSpace(c, fs));
    QVERIFY(!Wire::sendTransferHeader(c, th));
    QVERIFY(!Wire::recvTransferHeader(c, th));
    QVERIFY(!Wire::sendFileHeader(c, fh));
    QVERIFY(!Wire::recvFileHeader(c, fh));
    QVERIFY(!Wire::sendContentUnit(c, unit, sizeof(unit)));
    QVERIFY(!Wire::recvContentUnit(c, unit, sizeof(unit)));
    QVERIFY(!Wire::sendContent(c, unit, sizeof(unit)));
    QVERIFY(!Wire::recvContent(c, unit, sizeof(unit)));
    QVERIFY(!Wire::sendFileResult(c, 0));
    QVERIFY(!Wire::recvFileResult(c, result));
    QVERIFY(!Wire::sendNoApps(c));
    QVERIFY(!Wire::sendAppList(c, "vim "));
    QCOMPARE(Wire::recvAppList(c, text), Wire::AppListRead::NoList);
    QVERIFY(!Wire::sendInstallStarted(c));
    QVERIFY(!Wire::recvInstallStarted(c));
    QVERIFY(!Wire::sendReport(c, "x"));
    QVERIFY(!Wire::recvReport(c, text));
    QVERIFY(!Wire::sendEndMark(c));
    QVERIFY(!Wire::recvEndMark(c));
}

MOVANTA_TEST_MAIN(WireTest)
#include "tst_wire.moc"
