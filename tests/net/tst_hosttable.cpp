#include <arpa/inet.h>

#include "testmain.h"

#include "net/hosttable.h"

namespace {

sockaddr_in fromIndex(int i)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(40000);
    a.sin_addr.s_addr = htonl(0x0a000000u + static_cast<uint32_t>(i) + 1);
    return a;
}

sockaddr_in from(const char* ip, uint16_t port = 40000)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

unsigned keyOf(const char* ip)
{
    return from(ip).sin_addr.s_addr;
}

QByteArray datagram(const char* host, int length)
{
    Announcement a;
    a.hostName = host;
    a.distro = "Debian GNU/Linux";
    QByteArray out(Announcement::Size, '\0');
    a.encode(out.data());
    out.resize(length);
    return out;
}

} // namespace

class HostTableTest : public QObject
{
    Q_OBJECT

private slots:
    void pruneBySilence_data();
    void pruneBySilence();
    void firstAnnouncementMakesAnEntry();
    void laterAnnouncementOnlyRefreshes();
    void sameNameAtTwoAddressesGivesTwoEntries();
    void datagramTurn_data();
    void datagramTurn();
    void floodOfAnnouncersIsBounded();
    void floodWithinOneSecondIsBounded();
    void fullTableDropsTheLongestSilent();
    void hearingAgainIsNoChange();
};

void HostTableTest::pruneBySilence_data()
{
    QTest::addColumn<int>("silence");
    QTest::addColumn<bool>("kept");
    QTest::newRow("heard this second") << 0 << true;
    QTest::newRow("3 s of silence is kept") << 3 << true;
    QTest::newRow("4 s of silence is removed") << 4 << false;
    QTest::newRow("a minute of silence") << 60 << false;
}

void HostTableTest::pruneBySilence()
{
    QFETCH(int, silence);
    QFETCH(bool, kept);
    HostTable hosts;
    Announcement a;
    a.hostName = "pc";
    recordAnnouncement(hosts, from("10.0.0.1"), a, 1000);
    recordAnnouncement(hosts, from("10.0.0.2"), a, 1000 + silence);
    QCOMPARE(pruneHosts(hosts, 1000 + silence), std::size_t(kept ? 0 : 1));
    QCOMPARE(hosts.count(keyOf("10.0.0.1")), std::size_t(kept ? 1 : 0));
    QCOMPARE(hosts.count(keyOf("10.0.0.2")), std::size_t(1));
}

void HostTableTest::firstAnnouncementMakesAnEntry()
{
    HostTable hosts;
    Announcement a;
    a.hostName = "anna-pc";
    a.distro = "Deepin";
    QVERIFY(recordAnnouncement(hosts, from("192.168.1.20", 51234), a, 777));
    QCOMPARE(hosts.size(), std::size_t(1));
    const PCItemInfo& info = hosts.at(keyOf("192.168.1.20"));
    QCOMPARE(info.name, std::string("anna-pc"));
    QCOMPARE(info.distro, std::string("Deepin"));
    QCOMPARE(info.type, int16_t(2));
    QCOMPARE(info.lastSeen, int64_t(777));
    QCOMPARE(ntohs(info.address.sin_port), uint16_t(51234));
    QCOMPARE(info.address.sin_addr.s_addr, keyOf("192.168.1.20"));
}

void HostTableTest::laterAnnouncementOnlyRefreshes()
{
    HostTable hosts;
    Announcement first;
    first.hostName = "old-name";
    Announcement renamed;
    renamed.hostName = "new-name";
    renamed.distro = "Other";
    QVERIFY(recordAnnouncement(hosts, from("10.0.0.9"), first, 100));
    QVERIFY(!recordAnnouncement(hosts, from("10.0.0.9", 1), renamed, 102));
    const PCItemInfo& info = hosts.at(keyOf("10.0.0.9"));
    QCOMPARE(info.name, std::string("old-name"));
    QCOMPARE(info.distro, std::string());
    QCOMPARE(info.lastSeen, int64_t(102));
    QCOMPARE(ntohs(info.address.sin_port), uint16_t(40000));
}

void HostTableTest::sameNameAtTwoAddressesGivesTwoEntries()
{
    HostTable hosts;
    Announcement a;
    a.hostName = "twin";
    QVERIFY(recordAnnouncement(hosts, from("10.0.0.1"), a, 5));
    QVERIFY(recordAnnouncement(hosts, from("10.0.0.2"), a, 5));
    QCOMPARE(hosts.size(), std::size_t(2));
}

void HostTableTest::datagramTurn_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("arrived");
    QTest::addColumn<int>("staleAge");
    QTest::addColumn<bool>("newEntry");
    QTest::addColumn<bool>("changed");
    QTest::newRow("66 bytes add an entry") << datagram("a", 66) << true << 0 << true << true;
    QTest::newRow("67 bytes count by the first 66") << datagram("a", 66) + "z" << true << 0 << true << true;
    QTest::newRow("65 bytes neither add nor change") << datagram("a", 65) << true << 0 << false << false;
    QTest::newRow("65 bytes still prune") << datagram("a", 65) << true << 4 << false << true;
    QTest::newRow("an empty datagram is only short") << QByteArray() << true << 0 << false << false;
    QTest::newRow("no datagram still prunes") << QByteArray() << false << 10 << false << true;
    QTest::newRow("no datagram, nothing stale") << QByteArray() << false << 3 << false << false;
}

void HostTableTest::datagramTurn()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, arrived);
    QFETCH(int, staleAge);
    QFETCH(bool, newEntry);
    QFETCH(bool, changed);
    const int64_t now = 5000;
    HostTable hosts;
    Announcement old;
    old.hostName = "older";
    recordAnnouncement(hosts, from("10.0.0.100"), old, now - staleAge);
    bool hostsChanged = false;
    // Cut to 66 as the listener reads it.
    const long n = arrived ? std::min<long>(bytes.size(), Announcement::Size) : -1;
    takeDatagram(hosts, hostsChanged, bytes.constData(), n, from("10.0.0.7"), now);
    QCOMPARE(hostsChanged, changed);
    QCOMPARE(hosts.count(keyOf("10.0.0.7")), std::size_t(newEntry ? 1 : 0));
    QCOMPARE(hosts.count(keyOf("10.0.0.100")), std::size_t(staleAge > 3 ? 0 : 1));
    if (newEntry) {
        QCOMPARE(hosts.at(keyOf("10.0.0.7")).name, std::string("a"));
    }
    // The global lock is free again.
    QVERIFY(mutex.try_lock());
    mutex.unlock();
}

// Spoofed announcements from ever new addresses must not grow the table without end.
void HostTableTest::floodOfAnnouncersIsBounded()
{
    QCOMPARE(MaxHosts, std::size_t(64));
    HostTable hosts;
    Announcement a;
    a.hostName = "spoof";
    for (int i = 0; i < 1000; ++i) {
        QVERIFY(recordAnnouncement(hosts, fromIndex(i), a, 10000 + i));
        QVERIFY(hosts.size() <= MaxHosts);
    }
    QCOMPARE(hosts.size(), MaxHosts);
    // The 64 heard last are kept, every earlier one has gone.
    for (int i = 0; i < 1000; ++i) {
        QCOMPARE(hosts.count(fromIndex(i).sin_addr.s_addr), std::size_t(i >= 1000 - 64 ? 1 : 0));
    }
}

void HostTableTest::floodWithinOneSecondIsBounded()
{
    HostTable hosts;
    bool hostsChanged = false;
    Announcement a;
    a.hostName = "spoof";
    QByteArray bytes(Announcement::Size, '\0');
    a.encode(bytes.data());
    for (int i = 0; i < 1000; ++i) {
        hostsChanged = false;
        takeDatagram(hosts, hostsChanged, bytes.constData(), bytes.size(), fromIndex(i), 7000);
        QVERIFY(hostsChanged);
        QVERIFY(hosts.size() <= MaxHosts);
        // The newcomer always gets its place.
        QCOMPARE(hosts.count(fromIndex(i).sin_addr.s_addr), std::size_t(1));
    }
    QCOMPARE(hosts.size(), MaxHosts);
}

void HostTableTest::fullTableDropsTheLongestSilent()
{
    HostTable hosts;
    Announcement a;
    a.hostName = "pc";
    for (int i = 0; i < 64; ++i) {
        recordAnnouncement(hosts, fromIndex(i), a, 100 + i);
    }
    // The first one keeps announcing, so the second is now the one heard longest ago.
    QVERIFY(!recordAnnouncement(hosts, fromIndex(0), a, 200));
    QCOMPARE(hosts.size(), std::size_t(64));
    QVERIFY(recordAnnouncement(hosts, fromIndex(500), a, 201));
    QCOMPARE(hosts.size(), std::size_t(64));
    QCOMPARE(hosts.count(fromIndex(0).sin_addr.s_addr), std::size_t(1));
    QCOMPARE(hosts.count(fromIndex(1).sin_addr.s_addr), std::size_t(0));
    QCOMPARE(hosts.count(fromIndex(2).sin_addr.s_addr), std::size_t(1));
    QCOMPARE(hosts.count(fromIndex(500).sin_addr.s_addr), std::size_t(1));
    QCOMPARE(hosts.at(fromIndex(500).sin_addr.s_addr).lastSeen, int64_t(201));
}

// Only what a card shows can change the list; a receiver heard again only refreshes its time.
void HostTableTest::hearingAgainIsNoChange()
{
    HostTable hosts;
    bool hostsChanged = false;
    const QByteArray bytes = datagram("desk", 66);
    takeDatagram(hosts, hostsChanged, bytes.constData(), bytes.size(), from("10.0.0.3"), 300);
    QVERIFY(hostsChanged);
    for (int64_t now = 301; now < 310; ++now) {
        hostsChanged = false;
        takeDatagram(hosts, hostsChanged, bytes.constData(), bytes.size(), from("10.0.0.3"), now);
        QVERIFY(!hostsChanged);
        QCOMPARE(hosts.at(keyOf("10.0.0.3")).lastSeen, now);
    }
    // A new receiver does change it.
    takeDatagram(hosts, hostsChanged, bytes.constData(), bytes.size(), from("10.0.0.4"), 310);
    QVERIFY(hostsChanged);
}

MOVANTA_TEST_MAIN(HostTableTest)
#include "tst_hosttable.moc"
