#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "testmain.h"

#include "loopback.h"
#include "net/tcpclient.h"

using NetTest::Fd;

namespace {

std::vector<char> bytes(const QByteArray& a)
{
    return std::vector<char>(a.begin(), a.end());
}

int64_t threadCpuMs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

bool noDelayOn(int fd)
{
    int on = 0;
    socklen_t len = sizeof(on);
    return ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &len) == 0 && on != 0;
}

} // namespace

class TcpClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void sendKeysEachCallFromPositionZero_data();
    void sendKeysEachCallFromPositionZero();
    void fullUnitThenAnotherRestartsTheKey();
    void recvUnkeysEachCallFromPositionZero();

    void recvQuietSocketWithoutAll();
    void recvAvailableBytesWithoutAll();
    void recvAllReturnsLastChunkAndTotalLength();
    void recvIntoCallerMemoryWritesNoTerminator();
    void recvInternalBufferIsCappedAt1024();
    void readAheadServesAStreamOfMessagesFromPieces();
    void readAheadKeepsWhatCameBeforeAClose();

    void peerGoneMovesToClosed_data();
    void peerGoneMovesToClosed();
    void sendingToAGonePeerRaisesNoSigpipe();
    void sendWaitsForRoomWithoutSpinning();

    void connectSetsNoDelayAndNonBlocking();
    void connectToAQuietPortFails();
    void unresolvableNameLeavesAnUnusableRecord();
    void closedRecordConnectsAgain();
    void moveTransfersTheDescriptor();
    void stepwiseConnectNeverBlocks();
};

void TcpClientTest::initTestCase()
{
    // The default action: a SIGPIPE would end this test program.
    std::signal(SIGPIPE, SIG_DFL);
    // The private network has no name server: give up on names after one short try.
    qputenv("RES_OPTIONS", "timeout:1 attempts:1");
}

void TcpClientTest::sendKeysEachCallFromPositionZero_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QList<QByteArray>>("sends");
    QTest::addColumn<QByteArray>("wire");

    const QByteArray key("\x01\x02\x03\x04\x05\x06", 6);
    QTest::newRow("no key passes the bytes unchanged")
        << QByteArray() << QList<QByteArray> {"aaa", "aaa"} << QByteArray("aaaaaa");
    QTest::newRow("one 6-byte send uses key bytes 0..5") << key << QList<QByteArray> {"aaaaaa"} << QByteArray("`cbedg");
    QTest::newRow("two 3-byte sends use key bytes 0..2 twice")
        << key << QList<QByteArray> {"aaa", "aaa"} << QByteArray("`cb`cb");
    QTest::newRow("an 8-byte send wraps around the key")
        << key << QList<QByteArray> {"aaaaaaaa"} << QByteArray("`cbedg`c");
    QTest::newRow("one-byte sends always use key byte 0")
        << key << QList<QByteArray> {"a", "a", "a"} << QByteArray("```");
}

void TcpClientTest::sendKeysEachCallFromPositionZero()
{
    QFETCH(QByteArray, key);
    QFETCH(QList<QByteArray>, sends);
    QFETCH(QByteArray, wire);

    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    c.key = bytes(key);
    for (const QByteArray& s : sends) {
        QCOMPARE(c.Send(s.constData(), static_cast<unsigned long>(s.size()), true), int64_t(s.size()));
    }
    const std::string got = NetTest::readRaw(peer.get(), static_cast<std::size_t>(wire.size()));
    QCOMPARE(QByteArray::fromStdString(got), wire);
    // The data handed in is left as it was.
    QCOMPARE(sends.first().at(0), 'a');
}

void TcpClientTest::fullUnitThenAnotherRestartsTheKey()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    c.key = bytes("123456");
    const std::string zeros(1024, '\0');
    QVERIFY(c.Send(zeros.data(), 1024, true) > 0);
    QVERIFY(c.Send(zeros.data(), 1024, true) > 0);
    const std::string wire = NetTest::readRaw(peer.get(), 2048);
    QCOMPARE(wire.size(), std::size_t(2048));
    // 1020 is a multiple of 6: the first unit ends on key bytes "1234", the second starts again at '1'.
    QCOMPARE(wire.substr(1014, 16), std::string("1234561234123456"));
    QCOMPARE(wire.substr(0, 6), std::string("123456"));
}

void TcpClientTest::recvUnkeysEachCallFromPositionZero()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    c.key = bytes(QByteArray("\x01\x02\x03\x04\x05\x06", 6));
    QVERIFY(NetTest::writeRaw(peer.get(), "`cb`cb`cbedg"));
    QVERIFY(c.Recv(3, true) >= 0);
    QCOMPARE(std::string(c.buffer), std::string("aaa"));
    QVERIFY(c.Recv(3, true) >= 0);
    QCOMPARE(std::string(c.buffer), std::string("aaa"));
    char into[6];
    c.Recv(6, true, into);
    QCOMPARE(c.length, int64_t(6));
    QCOMPARE(std::string(into, 6), std::string("aaaaaa"));
}

void TcpClientTest::recvQuietSocketWithoutAll()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    c.buffer[0] = 'x';
    c.length = 99;
    const auto start = std::chrono::steady_clock::now();
    QCOMPARE(c.Recv(100, false), int64_t(0));
    const auto ms
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    QCOMPARE(c.length, int64_t(0));
    QCOMPARE(c.buffer[0], '\0');
    QCOMPARE(c.state.load(), TCP::Connected);
    QVERIFY2(ms >= 8 && ms < 1000, qPrintable(QString("took %1 ms").arg(ms)));
}

void TcpClientTest::recvAvailableBytesWithoutAll()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    QVERIFY(NetTest::writeRaw(peer.get(), "hello"));
    // Whatever has arrived by then, in one call; the bytes may come in one piece on loopback.
    int64_t total = 0;
    std::string got;
    for (int i = 0; i < 100 && total < 5; ++i) {
        const int64_t r = c.Recv(100, false);
        QVERIFY(r >= 0);
        QCOMPARE(r, c.length);
        got += std::string(c.buffer, static_cast<std::size_t>(c.length));
        QCOMPARE(c.buffer[c.length], '\0');
        total += c.length;
    }
    QCOMPARE(got, std::string("hello"));
}

void TcpClientTest::recvAllReturnsLastChunkAndTotalLength()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    std::thread writer([&] {
        NetTest::writeRaw(peer.get(), "abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        NetTest::writeRaw(peer.get(), "defgh");
    });
    const int64_t r = c.Recv(8, true);
    writer.join();
    QCOMPARE(r, int64_t(5));
    QCOMPARE(c.length, int64_t(8));
    QCOMPARE(std::string(c.buffer), std::string("abcdefgh"));
    QCOMPARE(c.buffer[8], '\0');
}

void TcpClientTest::recvIntoCallerMemoryWritesNoTerminator()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    QVERIFY(NetTest::writeRaw(peer.get(), "abcd"));
    char into[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    c.Recv(4, true, into);
    QCOMPARE(c.length, int64_t(4));
    QCOMPARE(std::string(into, 6), std::string("abcdxx"));
}

void TcpClientTest::recvInternalBufferIsCappedAt1024()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    const std::string data = NetTest::pattern(2000, 1);
    QVERIFY(NetTest::writeRaw(peer.get(), data));
    c.Recv(2000, true);
    QCOMPARE(c.length, int64_t(1024));
    QCOMPARE(c.buffer[1024], '\0');
    QCOMPARE(std::string(c.buffer, 1024), data.substr(0, 1024));
    c.Recv(976, true);
    QCOMPARE(std::string(c.buffer, 976), data.substr(1024));
}

// A receiver reading many small messages takes them from pieces of the stream: the same bytes, keyed per
// call as without, with the rest held in memory and reported as readable.
void TcpClientTest::readAheadServesAStreamOfMessagesFromPieces()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    c.key = bytes(QByteArray("\x11\x22\x33", 3));
    c.ReadAhead();
    std::string stream;
    std::vector<std::string> messages;
    for (int i = 0; i < 300; ++i) {
        messages.push_back(std::string(std::size_t(i % 17 + 1), char('a' + i % 26)));
    }
    messages.push_back(std::string(3 * TCP::Client::ReadAheadBytes + 5, 'L')); // past a whole piece
    messages.push_back("tail");
    for (const std::string& m : messages) {
        std::string keyed = m;
        for (std::size_t i = 0; i < keyed.size(); ++i) {
            keyed[i] = char(keyed[i] ^ c.key[i % c.key.size()]);
        }
        stream += keyed;
    }
    std::thread writer([&] { NetTest::writeRaw(peer.get(), stream); });
    std::vector<char> into(messages[300].size());
    for (std::size_t n = 0; n < messages.size(); ++n) {
        c.Recv(messages[n].size(), true, into.data());
        QCOMPARE(c.length, int64_t(messages[n].size()));
        QCOMPARE(std::string(into.data(), messages[n].size()), messages[n]);
        if (n == 0) {
            // The first call took a piece: the next messages wait in memory, readable without the socket.
            QVERIFY(c.HasBuffered());
            QVERIFY(c.WaitReadable(0));
        }
    }
    writer.join();
    QVERIFY(!c.HasBuffered());
    QCOMPARE(c.bytesRead, uint64_t(stream.size()));
    QCOMPARE(c.state.load(), TCP::Connected);

    // Unkeyed takes come from the piece first, then the socket.
    QVERIFY(NetTest::writeRaw(peer.get(), "0123456789"));
    char head[4] = {};
    c.RecvUnkeyed(4, true, head);
    QCOMPARE(std::string(head, 4), std::string("0123"));
    char pending[16] = {};
    QCOMPARE(c.RecvPending(pending, sizeof(pending)), int64_t(6));
    QCOMPARE(std::string(pending, 6), std::string("456789"));
    QCOMPARE(c.RecvPending(pending, sizeof(pending)), int64_t(0));
    QCOMPARE(c.Recv(5, false), int64_t(0));
    QCOMPARE(c.state.load(), TCP::Connected);
}

void TcpClientTest::readAheadKeepsWhatCameBeforeAClose()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    c.ReadAhead();
    QVERIFY(NetTest::writeRaw(peer.get(), "firstsecond"));
    peer.reset();
    c.Recv(5, true);
    QCOMPARE(std::string(c.buffer), std::string("first"));
    QVERIFY(c.HasBuffered());
    c.Recv(6, true);
    QCOMPARE(std::string(c.buffer), std::string("second"));
    QCOMPARE(c.Recv(1, true), int64_t(0));
    QCOMPARE(c.state.load(), TCP::Closed);
    QVERIFY(!c.HasBuffered());
}

void TcpClientTest::peerGoneMovesToClosed_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<int64_t>("recvResult");
    QTest::newRow("orderly close returns 0") << false << int64_t(0);
    QTest::newRow("connection reset returns -1") << true << int64_t(-1);
}

void TcpClientTest::peerGoneMovesToClosed()
{
    QFETCH(bool, reset);
    QFETCH(int64_t, recvResult);

    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    if (reset) {
        // Linger 0: close sends a reset, a hard error on the other side.
        linger l {1, 0};
        ::setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    }
    peer.reset();
    QCOMPARE(c.Recv(10, true), recvResult);
    QCOMPARE(c.state.load(), TCP::Closed);
    QCOMPARE(c.socket, -1);
    // Every later call refuses at once.
    QCOMPARE(c.Recv(10, true), int64_t(-1));
    QCOMPARE(c.Send("x", 1, true), int64_t(-1));
}

void TcpClientTest::sendingToAGonePeerRaisesNoSigpipe()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    peer.reset();
    const std::string data(4096, 'z');
    int64_t r = 0;
    for (int i = 0; i < 1000 && c.state == TCP::Connected; ++i) {
        r = c.Send(data.data(), data.size(), true);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Still alive: the broken pipe became a closed record.
    QCOMPARE(r, int64_t(-1));
    QCOMPARE(c.state.load(), TCP::Closed);
}

void TcpClientTest::sendWaitsForRoomWithoutSpinning()
{
    TCP::Client c;
    Fd peer;
    QVERIFY(NetTest::connectRaw(c, peer));
    // Far more than the socket buffers of loopback hold.
    const std::string data = NetTest::pattern(32 * 1024 * 1024, 3);
    int64_t cpuMs = -1;
    int64_t result = 0;
    std::thread sender([&] {
        const int64_t before = threadCpuMs();
        result = c.Send(data.data(), data.size(), true);
        cpuMs = threadCpuMs() - before;
    });
    // The reader stays away long enough for the sender to find the buffer full.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const std::string got = NetTest::readRaw(peer.get(), data.size(), 30000);
    if (got.size() != data.size()) {
        c.Shutdown(); // never leave the sender waiting
    }
    sender.join();
    QVERIFY(result > 0);
    QCOMPARE(got.size(), data.size());
    QVERIFY(got == data);
    qInfo("sender used %lld ms of CPU while the reader stayed away", static_cast<long long>(cpuMs));
}

void TcpClientTest::connectSetsNoDelayAndNonBlocking()
{
    TCP::Client outgoing;
    TCP::Client accepted;
    QVERIFY(NetTest::connectPair(outgoing, accepted));
    QCOMPARE(outgoing.state.load(), TCP::Connected);
    QCOMPARE(accepted.state.load(), TCP::Connected);
    QVERIFY(noDelayOn(outgoing.socket));
    QVERIFY(noDelayOn(accepted.socket));
    QVERIFY(outgoing.key.empty());
    QCOMPARE(accepted.length, int64_t(0));
}

void TcpClientTest::connectToAQuietPortFails()
{
    sockaddr_in address {};
    {
        Fd listener = NetTest::listenOnLoopback(address);
    }
    TCP::Client c(address);
    QVERIFY(!c.Connect());
    QCOMPARE(c.state.load(), TCP::NotConnected);
    QCOMPARE(c.Send("x", 1, true), int64_t(-1));
    QCOMPARE(c.Recv(1, true), int64_t(-1));
}

void TcpClientTest::unresolvableNameLeavesAnUnusableRecord()
{
    TCP::Client c("no-such-host.invalid", 4399);
    QCOMPARE(c.state.load(), TCP::NotConnected);
    QCOMPARE(c.address.sin_addr.s_addr, 0u);
    QCOMPARE(c.address.sin_port, uint16_t(0));
    QVERIFY(!c.Connect());
    QCOMPARE(c.state.load(), TCP::NotConnected);
}

void TcpClientTest::closedRecordConnectsAgain()
{
    sockaddr_in address {};
    Fd listener = NetTest::listenOnLoopback(address);
    TCP::Client c(address);
    QVERIFY(c.Connect());
    c.Close();
    QCOMPARE(c.state.load(), TCP::Closed);
    QVERIFY(c.Connect());
    QCOMPARE(c.state.load(), TCP::Connected);
    Fd peer(::accept(listener.get(), nullptr, nullptr));
    Fd second(::accept(listener.get(), nullptr, nullptr));
    QVERIFY(c.Send("ok", 2, true) == 2);
    QCOMPARE(NetTest::readRaw(second.get(), 2), std::string("ok"));
}

void TcpClientTest::moveTransfersTheDescriptor()
{
    TCP::Client a;
    Fd peer;
    QVERIFY(NetTest::connectRaw(a, peer));
    a.key = bytes("k");
    const int fd = a.socket;
    TCP::Client b(std::move(a));
    QCOMPARE(a.socket, -1);
    QCOMPARE(b.socket, fd);
    QCOMPARE(b.state.load(), TCP::Connected);
    QCOMPARE(b.key.size(), std::size_t(1));
    QVERIFY(b.Send("a", 1, true) == 1);
    QCOMPARE(NetTest::readRaw(peer.get(), 1), std::string(1, 'a' ^ 'k'));
}

// The connect a GUI thread uses: a refused attempt fails without blocking and leaves a fresh socket, so the
// next attempt reaches the port once something listens there; the result is the same as Connect()'s.
void TcpClientTest::stepwiseConnectNeverBlocks()
{
    sockaddr_in address {};
    {
        Fd gone = NetTest::listenOnLoopback(address);
    }
    TCP::Client c(address);
    TCP::Client::ConnectStep step = c.BeginConnect();
    for (int i = 0; i < 200 && step == TCP::Client::ConnectStep::Pending; ++i) {
        QTest::qWait(5);
        step = c.PollConnect();
    }
    QVERIFY(step == TCP::Client::ConnectStep::Failed);
    QCOMPARE(c.state.load(), TCP::NotConnected);
    QVERIFY(c.socket >= 0);

    Fd listener = NetTest::listenOnLoopback(address);
    c.address = address;
    step = c.BeginConnect();
    for (int i = 0; i < 200 && step == TCP::Client::ConnectStep::Pending; ++i) {
        QTest::qWait(5);
        step = c.PollConnect();
    }
    QVERIFY(step == TCP::Client::ConnectStep::Connected);
    QCOMPARE(c.state.load(), TCP::Connected);
    QVERIFY(c.PollConnect() == TCP::Client::ConnectStep::Connected);
    int on = 0;
    socklen_t len = sizeof(on);
    ::getsockopt(c.socket, IPPROTO_TCP, TCP_NODELAY, &on, &len);
    QVERIFY(on != 0);
    Fd peer(::accept(listener.get(), nullptr, nullptr));
    QVERIFY(c.Send("ok", 2, true) == 2);
    QCOMPARE(NetTest::readRaw(peer.get(), 2), std::string("ok"));

    TCP::Client nowhere("no-such-host.invalid", 4399);
    QVERIFY(nowhere.BeginConnect() == TCP::Client::ConnectStep::Failed);
}

MOVANTA_TEST_MAIN(TcpClientTest)
#include "tst_tcpclient.moc"
