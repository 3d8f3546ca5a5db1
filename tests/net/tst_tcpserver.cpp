#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <netinet/tcp.h>
#include <sys/socket.h>

#include "testmain.h"

#include "loopback.h"
#include "net/tcpserver.h"
#include "net/wire.h"

namespace {

// What the service thread did, read by the test thread.
struct Recorder
{
    std::mutex lock;
    std::vector<TCP::Client*> calls;
    std::map<TCP::Client*, int> perClient;
    // A client that received "close" is closed by the callback; its call is logged as closing.
    TCP::Client* closedBy = nullptr;
    std::size_t closingCall = 0;
    std::atomic<bool> insideBlockingRecv {false};
    std::atomic<bool> blockingRecvReturned {false};
    std::atomic<int> noDelayChecks {0};
    std::atomic<int> noDelayFailures {0};
    std::atomic<int> secondCallbackCalls {0};

    int callsOf(TCP::Client* c)
    {
        std::lock_guard<std::mutex> g(lock);
        return perClient[c];
    }
    bool someClientClosed()
    {
        std::lock_guard<std::mutex> g(lock);
        return closedBy != nullptr;
    }
    int totalCalls()
    {
        std::lock_guard<std::mutex> g(lock);
        return static_cast<int>(calls.size());
    }
    std::vector<TCP::Client*> distinctClients()
    {
        std::lock_guard<std::mutex> g(lock);
        std::vector<TCP::Client*> out;
        for (auto* c : calls) {
            if (std::find(out.begin(), out.end(), c) == out.end()) {
                out.push_back(c);
            }
        }
        return out;
    }
};

void record(TCP::Client* c, void* arg)
{
    auto* r = static_cast<Recorder*>(arg);
    {
        std::lock_guard<std::mutex> g(r->lock);
        r->calls.push_back(c);
        ++r->perClient[c];
    }
    // Poll without waiting long: one step per call.
    if (c->WaitReadable(0)) {
        c->Recv(5, true);
        if (c->length == 5 && std::string(c->buffer) == "close") {
            c->Close();
            std::lock_guard<std::mutex> g(r->lock);
            r->closedBy = c;
            r->closingCall = r->calls.size() - 1;
        }
    }
}

void blockInRecv(TCP::Client* c, void* arg)
{
    auto* r = static_cast<Recorder*>(arg);
    r->insideBlockingRecv = true;
    char into[64];
    c->Recv(sizeof(into), true, into);
    r->blockingRecvReturned = true;
}

void checkNoDelay(TCP::Client* c, void* arg)
{
    auto* r = static_cast<Recorder*>(arg);
    int on = 0;
    socklen_t len = sizeof(on);
    ::getsockopt(c->socket, IPPROTO_TCP, TCP_NODELAY, &on, &len);
    ++r->noDelayChecks;
    if (!on) {
        ++r->noDelayFailures;
    }
}

void countSecond(TCP::Client*, void* arg)
{
    ++static_cast<Recorder*>(arg)->secondCallbackCalls;
}

bool connectTo(TCP::Client& c, uint16_t port)
{
    c = TCP::Client("127.0.0.1", port);
    return c.Connect();
}

} // namespace

class TcpServerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void callbackRunsForEveryClient_data();
    void callbackRunsForEveryClient();
    void closedClientLeavesInTheSamePass();
    void listenRestartsItsThread();
    void stopWakesACallbackBlockedInRecv();
    void stopTwiceAndListenAgain();
    void acceptedClientsHaveNoDelay();
    void capacityLimitsTheClientList();
    void busyPortEndsTheLoop();
    void listenInThisThreadServes();
    void unresolvableHostNeverServes();
    void portIsOpenWhenListenReturns();
    void busyPortIsToldToTheCaller();
};

void TcpServerTest::initTestCase()
{
    // The private network has no name server: give up on names after one short try.
    qputenv("RES_OPTIONS", "timeout:1 attempts:1");
}

void TcpServerTest::callbackRunsForEveryClient_data()
{
    QTest::addColumn<int>("clients");
    QTest::newRow("one client") << 1;
    QTest::newRow("three clients") << 3;
}

void TcpServerTest::callbackRunsForEveryClient()
{
    QFETCH(int, clients);
    Recorder r;
    TCP::Server server("0.0.0.0", Wire::TcpPort);
    server.Listen(record, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);

    std::vector<TCP::Client> peers(static_cast<std::size_t>(clients));
    for (auto& p : peers) {
        QVERIFY(connectTo(p, Wire::TcpPort));
    }
    QTRY_COMPARE(server.clientCount(), std::size_t(clients));
    QTRY_COMPARE(r.distinctClients().size(), std::size_t(clients));
    // Called again and again, every client in turn (about once per millisecond on an idle machine).
    for (auto* c : r.distinctClients()) {
        const int before = r.callsOf(c);
        QTRY_VERIFY(r.callsOf(c) >= before + 20);
    }
    server.Stop();
    QCOMPARE(server.clientCount(), std::size_t(0));
    QCOMPARE(server.stopped.load(), 1);
}

void TcpServerTest::closedClientLeavesInTheSamePass()
{
    Recorder r;
    TCP::Server server("0.0.0.0", Wire::TcpPort);
    server.Listen(record, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);

    std::vector<TCP::Client> peers(3);
    for (auto& p : peers) {
        QVERIFY(connectTo(p, Wire::TcpPort));
        // One at a time, so the list order is the connection order.
        QTRY_COMPARE(server.clientCount(), std::size_t(&p - &peers[0] + 1));
    }
    QTRY_COMPARE(r.distinctClients().size(), std::size_t(3));
    const std::vector<TCP::Client*> order = r.distinctClients();

    QVERIFY(peers[1].Send("close", 5, true) == 5);
    QTRY_VERIFY(r.someClientClosed());
    QCOMPARE(server.clientCount(), std::size_t(2));
    // A slow machine may not have started the next pass yet.
    QTRY_VERIFY([&r] {
        std::lock_guard<std::mutex> g(r.lock);
        return r.calls.size() > r.closingCall + 1;
    }());
    server.Stop();

    std::lock_guard<std::mutex> g(r.lock);
    QCOMPARE(r.closedBy, order[1]);
    // The walk ended with the closing call: the next call starts a new pass at the first client,
    // and the closed client is never called again.
    QVERIFY(r.closingCall + 1 < r.calls.size());
    QCOMPARE(r.calls[r.closingCall + 1], order[0]);
    for (std::size_t i = r.closingCall + 1; i < r.calls.size(); ++i) {
        QVERIFY(r.calls[i] != order[1]);
    }
    // The peer of the closed client sees the close.
    QTRY_COMPARE((peers[1].Recv(1, false), peers[1].state.load()), TCP::Closed);
}

void TcpServerTest::listenRestartsItsThread()
{
    Recorder r;
    TCP::Server server("0.0.0.0", Wire::TcpPort);
    server.Listen(record, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);
    TCP::Client first;
    QVERIFY(connectTo(first, Wire::TcpPort));
    QTRY_VERIFY(r.totalCalls() > 0);

    server.Listen(countSecond, &r, false);
    // The old loop has been joined: its callback is never called again.
    const int oldCalls = r.totalCalls();
    QTRY_VERIFY(r.secondCallbackCalls > 10);
    QCOMPARE(r.totalCalls(), oldCalls);
    // The client list survives and new connections are still accepted on the same socket.
    TCP::Client second;
    QVERIFY(connectTo(second, Wire::TcpPort));
    QTRY_COMPARE(server.clientCount(), std::size_t(2));
    QCOMPARE(server.stopped.load(), 0);
}

void TcpServerTest::stopWakesACallbackBlockedInRecv()
{
    Recorder r;
    TCP::Server server("0.0.0.0", Wire::TcpPort);
    server.Listen(blockInRecv, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);
    TCP::Client peer;
    QVERIFY(connectTo(peer, Wire::TcpPort));
    QTRY_VERIFY(r.insideBlockingRecv);
    // The accepted socket is blocking and the peer says nothing: only Stop can end this call.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QVERIFY(!r.blockingRecvReturned);

    const auto start = std::chrono::steady_clock::now();
    server.Stop();
    const auto ms
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    QVERIFY(r.blockingRecvReturned);
    QVERIFY2(ms < 2000, qPrintable(QString("Stop took %1 ms").arg(ms)));
    QCOMPARE(server.clientCount(), std::size_t(0));
    QCOMPARE(server.socket, -1);
    QTRY_COMPARE((peer.Recv(1, false), peer.state.load()), TCP::Closed);
}

void TcpServerTest::stopTwiceAndListenAgain()
{
    Recorder r;
    TCP::Server server("0.0.0.0", Wire::TcpPort);
    server.Listen(record, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);
    server.Stop();
    server.Stop();
    QCOMPARE(server.stopped.load(), 1);
    TCP::Client refused;
    QVERIFY(!connectTo(refused, Wire::TcpPort));

    // A later load serves again on a new listening socket.
    server.Listen(record, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);
    TCP::Client peer;
    QVERIFY(connectTo(peer, Wire::TcpPort));
    QTRY_COMPARE(server.clientCount(), std::size_t(1));
}

void TcpServerTest::acceptedClientsHaveNoDelay()
{
    Recorder r;
    TCP::Server server("0.0.0.0", Wire::TcpPort);
    server.Listen(checkNoDelay, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);
    TCP::Client peer;
    QVERIFY(connectTo(peer, Wire::TcpPort));
    QTRY_VERIFY(r.noDelayChecks > 0);
    QCOMPARE(r.noDelayFailures.load(), 0);
}

void TcpServerTest::capacityLimitsTheClientList()
{
    Recorder r;
    TCP::Server server("0.0.0.0", Wire::TcpPort, 2);
    server.Listen(record, &r, false);
    QTRY_COMPARE(server.stopped.load(), 0);
    std::vector<TCP::Client> peers(3);
    for (auto& p : peers) {
        QVERIFY(connectTo(p, Wire::TcpPort));
    }
    QTRY_COMPARE(server.clientCount(), std::size_t(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QCOMPARE(server.clientCount(), std::size_t(2));
    // A free place lets the waiting connection in: once it is served, its own "close" empties a place.
    QVERIFY(peers[0].Send("close", 5, true) == 5);
    QTRY_COMPARE((peers[0].Recv(1, false), peers[0].state.load()), TCP::Closed);
    QVERIFY(peers[2].Send("close", 5, true) == 5);
    QTRY_COMPARE(server.clientCount(), std::size_t(1));
    QTRY_COMPARE((peers[2].Recv(1, false), peers[2].state.load()), TCP::Closed);
    QCOMPARE(peers[1].state.load(), TCP::Connected);
}

void TcpServerTest::busyPortEndsTheLoop()
{
    Recorder r;
    TCP::Server holder("0.0.0.0", Wire::TcpPort);
    holder.Listen(record, &r, false);
    QTRY_COMPARE(holder.stopped.load(), 0);

    TCP::Server second("0.0.0.0", Wire::TcpPort);
    // Returns at once after printing the socket and the error number; nothing runs.
    second.Listen(record, &r, true);
    QCOMPARE(second.stopped.load(), 1);
}

void TcpServerTest::listenInThisThreadServes()
{
    Recorder r;
    TCP::Server server("127.0.0.1:4399", 1);
    QCOMPARE(ntohs(server.address.sin_port), uint16_t(4399));
    std::thread loop([&] { server.Listen(record, &r, true); });
    QTRY_COMPARE(server.stopped.load(), 0);
    TCP::Client peer;
    QVERIFY(connectTo(peer, Wire::TcpPort));
    QTRY_VERIFY(r.totalCalls() > 0);
    QVERIFY(peer.Send("close", 5, true) == 5);
    QTRY_COMPARE(server.clientCount(), std::size_t(0));
    server.Stop();
    loop.join();
    QCOMPARE(server.stopped.load(), 1);
}

void TcpServerTest::unresolvableHostNeverServes()
{
    Recorder r;
    TCP::Server server("no-such-host.invalid", Wire::TcpPort);
    QCOMPARE(server.address.sin_addr.s_addr, 0u);
    // Returns at once instead of listening on some port of every address.
    server.Listen(record, &r, true);
    QCOMPARE(server.stopped.load(), 1);
    server.Listen(record, &r, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QCOMPARE(server.stopped.load(), 1);
    server.Stop();
}

// A receiver that says "ready" right after Listen() must not refuse the sender that hears it: the port is
// bound and listening before Listen() returns, whenever the service thread gets to run.
void TcpServerTest::portIsOpenWhenListenReturns()
{
    for (int round = 0; round < 40; ++round) {
        Recorder r;
        TCP::Server server("0.0.0.0", Wire::TcpPort);
        QVERIFY(server.Listen(record, &r, false));
        TCP::Client peer("127.0.0.1", Wire::TcpPort);
        // One attempt, no retry: a refused connect fails the round.
        QCOMPARE(peer.BeginConnect() == TCP::Client::ConnectStep::Failed, false);
        QTRY_VERIFY(peer.PollConnect() == TCP::Client::ConnectStep::Connected);
        server.Stop();
    }
}

void TcpServerTest::busyPortIsToldToTheCaller()
{
    Recorder r;
    TCP::Server holder("0.0.0.0", Wire::TcpPort);
    QVERIFY(holder.Listen(record, &r, false));
    TCP::Server second("0.0.0.0", Wire::TcpPort);
    QVERIFY(!second.Listen(record, &r, false));
    QCOMPARE(second.stopped.load(), 1);
    holder.Stop();
}

MOVANTA_TEST_MAIN(TcpServerTest)
#include "tst_tcpserver.moc"
