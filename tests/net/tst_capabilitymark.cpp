#include <cstring>
#include <random>
#include <vector>

#include <arpa/inet.h>

#include "testmain.h"

#include "net/announcement.h"
#include "net/capabilitymark.h"
#include "net/hosttable.h"

// The mark a receiver puts in its announcement's free bytes: read back where there is room, never found in
// a stranger's leftover bytes, and carried to the sender's table of receivers.
class CapabilityMarkTest : public QObject
{
    Q_OBJECT

private:
    static std::vector<char> encoded(const std::string& host, const std::string& distro, uint32_t capabilities)
    {
        Announcement a;
        a.hostName = host;
        a.distro = distro;
        a.capabilities = capabilities;
        std::vector<char> bytes(Announcement::Size);
        a.encode(bytes.data());
        return bytes;
    }

private slots:
    void whereItFits_data()
    {
        QTest::addColumn<int>("hostLength");
        QTest::addColumn<int>("distroLength");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<int>("at"); // offset of the mark, -1 when none
        QTest::newRow("short names: after the host name") << 6 << 16 << true << 7;
        QTest::newRow("longest host name with room") << 19 << 16 << true << 20;
        QTest::newRow("host name too long: after the distribution") << 20 << 16 << true << 49;
        QTest::newRow("empty host name") << 0 << 0 << true << 1;
        QTest::newRow("both too long: no mark") << 31 << 20 << false << -1;
        QTest::newRow("both full: no mark") << 31 << 31 << false << -1;
    }

    void whereItFits()
    {
        QFETCH(int, hostLength);
        QFETCH(int, distroLength);
        QFETCH(bool, marked);
        QFETCH(int, at);
        const std::string host(static_cast<std::size_t>(hostLength), 'h');
        const std::string distro(static_cast<std::size_t>(distroLength), 'd');
        const std::vector<char> bytes = encoded(host, distro, CapabilityMark::Entries);
        Announcement back;
        QVERIFY(Announcement::decode(bytes.data(), bytes.size(), back));
        QCOMPARE(back.hostName, host);
        QCOMPARE(back.distro, distro);
        QCOMPARE(back.type, uint16_t(2));
        QCOMPARE(back.capabilities, marked ? CapabilityMark::Entries : 0u);
        if (at >= 0) {
            QCOMPARE(uint8_t(bytes[static_cast<std::size_t>(at)]), CapabilityMark::Magic[0]);
        }
    }

    void laterBitsTravelToo()
    {
        const uint32_t bits = CapabilityMark::Entries | (1u << 1) | (1u << 31);
        const std::vector<char> bytes = encoded("pc", "Debian GNU/Linux", bits);
        QCOMPARE(CapabilityMark::read(bytes.data()), bits);
    }

    void withoutCapabilitiesTheBytesStayZero()
    {
        const std::vector<char> bytes = encoded("pc", "Debian GNU/Linux", 0);
        for (std::size_t i = 3; i < Announcement::NameField; ++i) {
            QCOMPARE(int(bytes[i]), 0);
        }
        QCOMPARE(CapabilityMark::read(bytes.data()), 0u);
    }

    // The checksum covers both names and the type: a mark copied to another announcement is not taken.
    void aChangedByteDropsTheMark()
    {
        const std::vector<char> good = encoded("pc", "Debian GNU/Linux", CapabilityMark::Entries);
        const std::size_t covered[] = {0, 1, 32, 40, 47, 64, 65, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
        for (const std::size_t i : covered) {
            std::vector<char> bad = good;
            bad[i] = static_cast<char>(bad[i] ^ 0x20);
            QVERIFY2(CapabilityMark::read(bad.data()) == 0, qPrintable(QString("byte %1").arg(i)));
        }
    }

    // A receiver built from the protocol alone may leave anything after its names' NULs.
    void garbageAfterTheNamesIsNoMark()
    {
        std::mt19937 random(5);
        for (int round = 0; round < 300000; ++round) {
            std::vector<char> bytes(Announcement::Size);
            for (char& c : bytes) {
                c = static_cast<char>(random() & 0xff);
            }
            const std::size_t hostLength = random() % 31;
            const std::size_t distroLength = random() % 31;
            bytes[hostLength] = '\0';
            bytes[Announcement::DistroOffset + distroLength] = '\0';
            if (round % 2 == 0) {
                // Even with our magic, version and length in place.
                std::memcpy(bytes.data() + hostLength + 1, CapabilityMark::Magic, 2);
                if (hostLength + 4 < Announcement::NameField) {
                    bytes[hostLength + 3] = static_cast<char>(CapabilityMark::Version);
                    bytes[hostLength + 4] = static_cast<char>(CapabilityMark::Size);
                }
            }
            Announcement back;
            QVERIFY(Announcement::decode(bytes.data(), bytes.size(), back));
            QVERIFY2(back.capabilities == 0, qPrintable(QString("round %1").arg(round)));
        }
    }

    void theTableOfReceiversKeepsThem_data()
    {
        QTest::addColumn<uint>("capabilities");
        QTest::newRow("this program's receiver") << CapabilityMark::Entries;
        QTest::newRow("a receiver without the mark") << 0u;
    }

    void theTableOfReceiversKeepsThem()
    {
        QFETCH(uint, capabilities);
        const std::vector<char> bytes = encoded("pc", "Debian GNU/Linux", capabilities);
        sockaddr_in from {};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x0a000001);
        HostTable hosts;
        bool changed = false;
        takeDatagram(hosts, changed, bytes.data(), static_cast<long>(bytes.size()), from, 100);
        QVERIFY(changed);
        QCOMPARE(hosts.size(), std::size_t(1));
        QCOMPARE(hosts.begin()->second.capabilities, uint32_t(capabilities));
    }
};

MOVANTA_TEST_MAIN(CapabilityMarkTest)
#include "tst_capabilitymark.moc"
