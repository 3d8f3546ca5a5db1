#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testmain.h"

#include "loopback.h"
#include "net/announcer.h"
#include "net/discoverylistener.h"
#include "net/distro.h"
#include "net/socket.h"
#include "net/wire.h"

using NetTest::Fd;
using Clock = std::chrono::steady_clock;

namespace {

unsigned keyOf(const char* ip)
{
    in_addr a {};
    ::inet_pton(AF_INET, ip, &a);
    return a.s_addr;
}

// A receiver made by hand: a datagram socket on a loopback address of its own that broadcasts raw bytes.
class FakeReceiver
{
public:
    explicit FakeReceiver(const char* ip) : fd(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
        sockaddr_in local {};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip, &local.sin_addr);
        bound = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
    }
    bool send(const QByteArray& bytes)
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(Wire::UdpPort);
        to.sin_addr.s_addr = INADDR_BROADCAST;
        return ::sendto(fd.get(), bytes.constData(), static_cast<size_t>(bytes.size()), 0,
                   reinterpret_cast<sockaddr*>(&to), sizeof(to))
            == bytes.size();
    }
    bool announce(const char* host, int length = 66)
    {
        Announcement a;
        a.hostName = host;
        a.distro = "Fake Linux";
        QByteArray bytes(Announcement::Size, '\0');
        a.encode(bytes.data());
        bytes.resize(length);
        return send(bytes);
    }
    bool bound = false;

private:
    Fd fd;
};

// What the sender page does with the table: everything under the global lock.
struct Table
{
    HostTable hosts;
    bool hostsChanged = false;

    std::size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return hosts.size();
    }
    bool has(const char* ip)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return hosts.count(keyOf(ip)) == 1;
    }
    PCItemInfo at(const char* ip)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = hosts.find(keyOf(ip));
        return it == hosts.end() ? PCItemInfo() : it->second;
    }
    bool takeChanged()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(hostsChanged, false);
    }
};

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

} // namespace

class DiscoveryTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void announcerFillsTheTable();
    void announcerRepeatsEveryThreeSeconds();
    void sameHostNameAtTwoAddresses();
    void datagramLengths_data();
    void datagramLengths();
    void renamedHostKeepsItsNameUntilSilenceRemovesIt();
    void stopIsPromptAndStartAgainWorks();

private:
    std::unique_ptr<UDP::Server> server;
    std::unique_ptr<Table> table;
    std::unique_ptr<DiscoveryListener> listener;
};

void DiscoveryTest::init()
{
    server = std::make_unique<UDP::Server>("0.0.0.0", Wire::UdpPort);
    table = std::make_unique<Table>();
    listener = std::make_unique<DiscoveryListener>(*server, table->hosts, table->hostsChanged);
    QVERIFY(listener->start());
    QVERIFY(listener->running());
}

void DiscoveryTest::cleanup()
{
    // The listener goes first: it reads the server and the table.
    listener.reset();
    table.reset();
    server.reset();
}

void DiscoveryTest::announcerFillsTheTable()
{
    Announcer announcer;
    announcer.start();
    QVERIFY(announcer.running());
    QTRY_VERIFY(table->has("127.0.0.1"));
    QVERIFY(table->takeChanged());

    const Announcement local = localAnnouncement();
    const PCItemInfo info = table->at("127.0.0.1");
    QCOMPARE(info.name, ::cutUtf8(local.hostName, 31));
    QCOMPARE(info.distro, ::cutUtf8(getdistroname(), 31));
    QCOMPARE(info.type, int16_t(2));
    QCOMPARE(info.address.sin_addr.s_addr, keyOf("127.0.0.1"));
    QVERIFY(std::abs(info.lastSeen - static_cast<int64_t>(std::time(nullptr))) <= 1);
    QCOMPARE(table->size(), std::size_t(1));
}

void DiscoveryTest::announcerRepeatsEveryThreeSeconds()
{
    listener.reset(); // a plain socket listens instead, to count the datagrams
    server.reset();
    Fd ear(::socket(AF_INET, SOCK_DGRAM, 0));
    const int on = 1;
    ::setsockopt(ear.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_port = htons(Wire::UdpPort);
    QCOMPARE(::bind(ear.get(), reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);

    Announcement content;
    content.hostName = "counted";
    content.distro = "Counting Linux";
    QByteArray expected(66, '\0');
    content.encode(expected.data());

    Announcer announcer;
    const auto start = Clock::now();
    announcer.start(content, "255.255.255.255");
    std::vector<double> arrivals;
    char buffer[100];
    while (arrivals.size() < 2 && secondsSince(start) < 5) {
        if (Socket::waitReadable(ear.get(), 100)) {
            const ssize_t n = ::recv(ear.get(), buffer, sizeof(buffer), 0);
            QCOMPARE(QByteArray(buffer, static_cast<int>(n)), expected);
            arrivals.push_back(secondsSince(start));
        }
    }
    QCOMPARE(arrivals.size(), std::size_t(2));
    QVERIFY2(arrivals[0] < 2.5, qPrintable(QString::number(arrivals[0]))); // before the first period ends
    QVERIFY2(
        arrivals[1] - arrivals[0] > 2.8 && arrivals[1] - arrivals[0] < 3.5, qPrintable(QString::number(arrivals[1])));
}

void DiscoveryTest::sameHostNameAtTwoAddresses()
{
    Announcement twin;
    twin.hostName = "twin";
    twin.distro = "Twin OS";
    Announcer first;
    Announcer second;
    first.start(twin, "255.255.255.255", "127.0.0.2");
    second.start(twin, "255.255.255.255", "127.0.0.3");
    QTRY_COMPARE(table->size(), std::size_t(2));
    QCOMPARE(table->at("127.0.0.2").name, std::string("twin"));
    QCOMPARE(table->at("127.0.0.3").name, std::string("twin"));
}

void DiscoveryTest::datagramLengths_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("counts");
    QTest::newRow("65 bytes are ignored") << 65 << false;
    QTest::newRow("66 bytes count") << 66 << true;
    QTest::newRow("67 bytes count by their first 66") << 67 << true;
    QTest::newRow("an empty datagram is ignored and ends nothing") << 0 << false;
}

void DiscoveryTest::datagramLengths()
{
    QFETCH(int, length);
    QFETCH(bool, counts);
    FakeReceiver receiver("127.0.0.5");
    QVERIFY(receiver.bound);
    Announcement a;
    a.hostName = "sized";
    QByteArray bytes(67, 'z');
    a.encode(bytes.data());
    bytes.resize(length);
    QVERIFY(receiver.send(bytes));
    // A marker from another address shows that the first datagram has been handled.
    FakeReceiver marker("127.0.0.6");
    QVERIFY(marker.announce("marker"));
    QTRY_VERIFY(table->has("127.0.0.6"));
    QCOMPARE(table->has("127.0.0.5"), counts);
    if (counts) {
        QCOMPARE(table->at("127.0.0.5").name, std::string("sized"));
    }
    QVERIFY(listener->running());
}

void DiscoveryTest::renamedHostKeepsItsNameUntilSilenceRemovesIt()
{
    FakeReceiver receiver("127.0.0.7");
    QVERIFY(receiver.bound);
    QVERIFY(receiver.announce("first-name"));
    QTRY_VERIFY(table->has("127.0.0.7"));
    QVERIFY(table->takeChanged());

    // A short datagram in between changes nothing.
    QVERIFY(receiver.announce("short", 65));
    QVERIFY(receiver.announce("second-name"));
    auto lastHeard = Clock::now();
    const int64_t firstSeen = table->at("127.0.0.7").lastSeen;
    QTRY_VERIFY(table->at("127.0.0.7").lastSeen >= firstSeen);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QCOMPARE(table->at("127.0.0.7").name, std::string("first-name"));
    // A refresh is no change for the view.
    QVERIFY(!table->takeChanged());

    // Silence: gone more than 3 and at most 4 seconds (plus one wait) after it was last heard.
    while (table->has("127.0.0.7") && secondsSince(lastHeard) < 6) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double silence = secondsSince(lastHeard);
    QVERIFY2(!table->has("127.0.0.7"), "never pruned");
    QVERIFY2(silence > 2.9 && silence < 4.3, qPrintable(QString("pruned after %1 s").arg(silence)));
    QVERIFY(table->takeChanged());

    // Heard again, it is a new entry with the name it now gives.
    QVERIFY(receiver.announce("second-name"));
    QTRY_VERIFY(table->has("127.0.0.7"));
    QCOMPARE(table->at("127.0.0.7").name, std::string("second-name"));
}

void DiscoveryTest::stopIsPromptAndStartAgainWorks()
{
    Announcer announcer;
    announcer.start();
    QTRY_VERIFY(table->has("127.0.0.1"));
    // Both threads are in their waits now; neither may hold stop() up.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto t = Clock::now();
    announcer.stop();
    QVERIFY2(secondsSince(t) < 2.5, qPrintable(QString::number(secondsSince(t)))); // not a whole period
    QVERIFY(!announcer.running());
    QCOMPARE(announcer.announcer.state.load(), TCP::Closed);
    QCOMPARE(announcer.announcer.socket, -1);

    t = Clock::now();
    listener->stop();
    QVERIFY2(secondsSince(t) < 2.5, qPrintable(QString::number(secondsSince(t)))); // not a whole period
    QVERIFY(!listener->running());
    QCOMPARE(server->client.state.load(), TCP::NotConnected);

    // The socket stays bound; a later load listens again on it.
    QVERIFY(server->bound());
    QVERIFY(listener->start());
    FakeReceiver receiver("127.0.0.8");
    QVERIFY(receiver.announce("again"));
    QTRY_VERIFY(table->has("127.0.0.8"));

    // And an announcer can start again too.
    announcer.start();
    QVERIFY(announcer.running());
}

MOVANTA_TEST_MAIN(DiscoveryTest)
#include "tst_discovery.moc"
