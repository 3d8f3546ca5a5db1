#include <cstring>
#include <random>
#include <vector>

#include "testmain.h"

#include "net/byteorder.h"
#include "net/crc32.h"
#include "net/fileheader.h"
#include "net/filemeta.h"

// The record a header carries in its free bytes: what goes in comes out, and nothing else is ever taken
// for one.
class FileMetaTest : public QObject
{
    Q_OBJECT

private:
    static std::vector<char> encoded(const FileHeader& h)
    {
        std::vector<char> bytes(FileHeader::Size);
        if (!h.encode(bytes.data())) {
            bytes.clear();
        }
        return bytes;
    }

    // Puts a checksum over the record as the documented layout says, as a peer that forges one would.
    static void seal(std::vector<char>& bytes, std::size_t pathLength)
    {
        char* record = bytes.data() + pathLength + 1;
        uint32_t crc = crc32(bytes.data() + FileHeader::ReservedOffset, 4);
        crc = crc32(bytes.data(), pathLength + 1, crc);
        crc = crc32(bytes.data() + FileHeader::HomePrefixOffset, 4, crc);
        crc = crc32(bytes.data() + FileHeader::SizeOffset, 8, crc);
        crc = crc32(record, 16, crc);
        ByteOrder::putU32(record + 16, crc);
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("unreadable");
        QTest::addColumn<uint>("mode");
        QTest::addColumn<qlonglong>("seconds");
        QTest::addColumn<uint>("nanoseconds");
        QTest::addColumn<int>("pathLength");
        QTest::newRow("private file") << 0 << false << 0600u << 1700000000ll << 123456789u << 20;
        QTest::newRow("read-only file") << 0 << false << 0444u << 86400ll << 0u << 1;
        QTest::newRow("before 1970") << 0 << false << 0640u << -31536000ll << 999999999u << 30;
        QTest::newRow("one ns before 1970") << 0 << false << 0644u << -1ll << 999999999u << 30;
        QTest::newRow("far future") << 0 << false << 0755u << (1ll << 40) << 1u << 30;
        QTest::newRow("folder") << 1 << false << 0700u << 1600000000ll << 5u << 200;
        QTest::newRow("link") << 2 << false << 0777u << 1500000000ll << 6u << 3000;
        QTest::newRow("could not read") << 0 << true << 0u << 0ll << 0u << 40;
        QTest::newRow("longest path with room") << 0 << false << 0600u << 1ll << 2u << int(FileMeta::MaxPath);
    }

    void roundTrip()
    {
        QFETCH(int, kind);
        QFETCH(bool, unreadable);
        QFETCH(uint, mode);
        QFETCH(qlonglong, seconds);
        QFETCH(uint, nanoseconds);
        QFETCH(int, pathLength);
        FileHeader h;
        h.path = "/" + std::string(static_cast<std::size_t>(pathLength - 1), 'p');
        h.homePrefixLength = 7;
        h.size = 12345;
        FileMeta meta;
        meta.kind = static_cast<FileMeta::Kind>(kind);
        meta.unreadable = unreadable;
        meta.mode = mode;
        meta.seconds = seconds;
        meta.nanoseconds = nanoseconds;
        h.meta = meta;
        const std::vector<char> bytes = encoded(h);
        QCOMPARE(bytes.size(), FileHeader::Size);
        // The protocol's fields are where they always were.
        QCOMPARE(ByteOrder::getU32(bytes.data() + FileHeader::HomePrefixOffset), 7u);
        QCOMPARE(ByteOrder::getU64(bytes.data() + FileHeader::SizeOffset), quint64(12345));
        QCOMPARE(std::strlen(bytes.data()), h.path.size());

        const FileHeader back = FileHeader::decode(bytes.data());
        QCOMPARE(back.path, h.path);
        QVERIFY(back.meta.has_value());
        QVERIFY(*back.meta == meta);
    }

    void aPathTooLongTravelsWithout_data()
    {
        QTest::addColumn<int>("pathLength");
        QTest::newRow("one byte past the room") << int(FileMeta::MaxPath) + 1;
        QTest::newRow("the longest path the field takes") << int(FileHeader::PathField) - 1;
    }

    void aPathTooLongTravelsWithout()
    {
        QFETCH(int, pathLength);
        FileHeader h;
        h.path = std::string(static_cast<std::size_t>(pathLength), 'q');
        h.size = 9;
        h.meta = FileMeta();
        const std::vector<char> bytes = encoded(h);
        QCOMPARE(bytes.size(), FileHeader::Size);
        // Nothing but zeros after the path: the record was left out, not cut.
        for (std::size_t i = h.path.size(); i < FileHeader::PathField + 8; ++i) {
            if (i < FileHeader::HomePrefixOffset || i >= FileHeader::ReservedOffset) {
                QCOMPARE(int(bytes[i]), 0);
            }
        }
        const FileHeader back = FileHeader::decode(bytes.data());
        QCOMPARE(back.path, h.path);
        QVERIFY(!back.meta.has_value());
    }

    void setuidBitsNeverTravel_data()
    {
        QTest::addColumn<uint>("sent");
        QTest::addColumn<uint>("arrives");
        QTest::newRow("setuid") << 04755u << 0755u;
        QTest::newRow("setgid") << 02750u << 0750u;
        QTest::newRow("sticky") << 01777u << 0777u;
        QTest::newRow("all of them") << 07777u << 0777u;
        QTest::newRow("type bits of a regular file") << 0100644u << 0644u;
    }

    void setuidBitsNeverTravel()
    {
        QFETCH(uint, sent);
        QFETCH(uint, arrives);
        FileHeader h;
        h.path = "/home/a/tool";
        h.meta = FileMeta();
        h.meta->mode = sent;
        const std::vector<char> bytes = encoded(h);
        QCOMPARE(uint(FileHeader::decode(bytes.data()).meta->mode), arrives);

        // A hostile sender writes the bits into the record itself, with a checksum that fits: still masked.
        std::vector<char> forged = bytes;
        ByteOrder::putU16(forged.data() + h.path.size() + 1 + 2, static_cast<uint16_t>(sent));
        seal(forged, h.path.size());
        const std::optional<FileMeta> read = FileMeta::read(forged.data());
        QVERIFY(read.has_value());
        QCOMPARE(uint(read->mode), arrives);
    }

    // Each byte of marker, record and the fields the checksum covers, changed alone, makes the record
    // invalid rather than different.
    void anyChangedByteInvalidates()
    {
        FileHeader h;
        h.path = "/home/a/docs/x.txt";
        h.homePrefixLength = 7;
        h.size = 100;
        h.meta = FileMeta();
        h.meta->mode = 0640;
        h.meta->seconds = 1234567890;
        h.meta->nanoseconds = 42;
        const std::vector<char> good = encoded(h);
        QVERIFY(FileHeader::decode(good.data()).meta.has_value());
        std::vector<std::size_t> positions;
        for (std::size_t i = 0; i < h.path.size() + 1 + FileMeta::RecordSize; ++i) {
            positions.push_back(i);
        }
        for (std::size_t i = FileHeader::HomePrefixOffset; i < FileHeader::Size; ++i) {
            positions.push_back(i);
        }
        for (const std::size_t i : positions) {
            std::vector<char> bad = good;
            bad[i] = static_cast<char>(bad[i] ^ 0x01);
            const std::optional<FileMeta> meta = FileHeader::decode(bad.data()).meta;
            QVERIFY2(!meta.has_value(), qPrintable(QString("byte %1 changed, record still taken").arg(i)));
        }
    }

    // A sender that fills the free bytes with anything, even our marker, is never read as a record.
    void garbageIsNeverARecord_data()
    {
        QTest::addColumn<bool>("withMarker");
        QTest::newRow("random reserved bytes") << false;
        QTest::newRow("our marker, random record") << true;
    }

    void garbageIsNeverARecord()
    {
        QFETCH(bool, withMarker);
        std::mt19937 random(withMarker ? 7 : 11);
        for (int round = 0; round < 20000; ++round) {
            std::vector<char> bytes(FileHeader::Size);
            for (char& c : bytes) {
                c = static_cast<char>(random() & 0xff);
            }
            const std::size_t pathLength = 1 + random() % 4000;
            bytes[pathLength] = '\0';
            std::memset(bytes.data(), 'a', pathLength);
            if (withMarker) {
                std::memcpy(bytes.data() + FileHeader::ReservedOffset, FileMeta::Magic, 3);
                bytes[FileHeader::ReservedOffset + 3] = static_cast<char>(FileMeta::Version);
            }
            QVERIFY2(!FileMeta::read(bytes.data()).has_value(), qPrintable(QString("round %1").arg(round)));
        }
    }

    // Bytes of an earlier, longer path left behind after a shorter one, as a sender reusing its buffer would
    // leave them, are not a record for the new path.
    void aRecordOfAnotherHeaderIsNotTaken()
    {
        FileHeader first;
        first.path = "/home/a/x";
        first.size = 5;
        first.meta = FileMeta();
        first.meta->mode = 0600;
        std::vector<char> bytes = encoded(first);
        // The same bytes with another size (another file, same path).
        ByteOrder::putU64(bytes.data() + FileHeader::SizeOffset, 6);
        QVERIFY(!FileMeta::read(bytes.data()).has_value());
        // A shorter path over it: the old record now starts at the wrong place.
        bytes = encoded(first);
        std::memcpy(bytes.data(), "/home/a\0", 8);
        QVERIFY(!FileMeta::read(bytes.data()).has_value());
    }

    void aHeaderWithoutRecordHasNone()
    {
        FileHeader h;
        h.path = "/home/a/plain";
        const std::vector<char> bytes = encoded(h);
        QVERIFY(!FileHeader::decode(bytes.data()).meta.has_value());
        // The reserved bytes stay zero then, as before.
        for (std::size_t i = FileHeader::ReservedOffset; i < FileHeader::SizeOffset; ++i) {
            QCOMPARE(int(bytes[i]), 0);
        }
    }

    void invalidFieldsAreNoRecord_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<uint>("nanoseconds");
        QTest::newRow("unknown kind") << 3 << 0u;
        QTest::newRow("a whole second of nanoseconds") << 0 << 1000000000u;
    }

    void invalidFieldsAreNoRecord()
    {
        QFETCH(int, kind);
        QFETCH(uint, nanoseconds);
        FileHeader h;
        h.path = "/home/a/f";
        h.meta = FileMeta();
        std::vector<char> bytes = encoded(h);
        char* record = bytes.data() + h.path.size() + 1;
        record[0] = static_cast<char>(kind);
        ByteOrder::putU32(record + 12, nanoseconds);
        // A valid checksum over the invalid fields, as a careless peer might compute it.
        seal(bytes, h.path.size());
        QVERIFY(!FileMeta::read(bytes.data()).has_value());
        // The same bytes with valid fields are a record: the checksum alone did not refuse them.
        record[0] = 0;
        ByteOrder::putU32(record + 12, 0);
        seal(bytes, h.path.size());
        QVERIFY(FileMeta::read(bytes.data()).has_value());
    }
};

MOVANTA_TEST_MAIN(FileMetaTest)
#include "tst_filemeta.moc"
