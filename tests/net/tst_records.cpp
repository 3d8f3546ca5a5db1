#include <vector>

#include "testmain.h"

#include "net/fileheader.h"
#include "net/freespacemessage.h"
#include "net/transferheader.h"

Q_DECLARE_METATYPE(std::string)

class RecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void freeSpaceMessage_data();
    void freeSpaceMessage();
    void transferHeader_data();
    void transferHeader();
    void fileHeaderLayout();
    void fileHeaderPathLimits_data();
    void fileHeaderPathLimits();
    void fileHeaderWithoutTerminatorStaysInItsField();
    void fileHeaderIgnoresBytesAfterTheTerminator();
};

void RecordsTest::freeSpaceMessage_data()
{
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("free");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("zeros") << quint64(0) << quint64(0) << QByteArray(16, '\0');
    QTest::newRow("small values, low byte first")
        << quint64(0x0102) << quint64(0x03) << QByteArray("\x02\x01\0\0\0\0\0\0\x03\0\0\0\0\0\0\0", 16);
    QTest::newRow("1 TB total, 256 GiB free")
        << quint64(1000000000000ull) << quint64(274877906944ull)
        << QByteArray("\x00\x10\xa5\xd4\xe8\x00\x00\x00\x00\x00\x00\x00\x40\x00\x00\x00", 16);
    QTest::newRow("all bits set") << quint64(~0ull) << quint64(0x8000000000000001ull)
                                  << QByteArray("\xff\xff\xff\xff\xff\xff\xff\xff\x01\0\0\0\0\0\0\x80", 16);
}

void RecordsTest::freeSpaceMessage()
{
    QFETCH(quint64, total);
    QFETCH(quint64, free);
    QFETCH(QByteArray, wire);
    FreeSpaceMessage m;
    m.total = total;
    m.free = free;
    char out[FreeSpaceMessage::Size];
    m.encode(out);
    QCOMPARE(QByteArray(out, sizeof(out)), wire);
    const FreeSpaceMessage back = FreeSpaceMessage::decode(wire.constData());
    QCOMPARE(quint64(back.total), total);
    QCOMPARE(quint64(back.free), free);
}

void RecordsTest::transferHeader_data()
{
    QTest::addColumn<quint64>("fileCount");
    QTest::addColumn<quint64>("totalBytes");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("empty migration") << quint64(0) << quint64(0) << QByteArray(16, '\0');
    QTest::newRow("3 files, 2 apps") << quint64(3) << quint64(2000 + 70000)
                                     << QByteArray("\x03\0\0\0\0\0\0\0\x40\x19\x01\0\0\0\0\0", 16);
    QTest::newRow("count above 32 bits") << quint64(0x100000000ull) << quint64(1)
                                         << QByteArray("\0\0\0\0\x01\0\0\0\x01\0\0\0\0\0\0\0", 16);
}

void RecordsTest::transferHeader()
{
    QFETCH(quint64, fileCount);
    QFETCH(quint64, totalBytes);
    QFETCH(QByteArray, wire);
    TransferHeader h;
    h.fileCount = fileCount;
    h.totalBytes = totalBytes;
    char out[TransferHeader::Size];
    h.encode(out);
    QCOMPARE(QByteArray(out, sizeof(out)), wire);
    const TransferHeader back = TransferHeader::decode(wire.constData());
    QCOMPARE(quint64(back.fileCount), fileCount);
    QCOMPARE(quint64(back.totalBytes), totalBytes);
}

void RecordsTest::fileHeaderLayout()
{
    FileHeader h;
    h.path = "/home/anna/文档/a.txt";
    h.homePrefixLength = 10;
    h.size = 0x0102030405ull;
    std::vector<char> out(FileHeader::Size, 'x');
    QVERIFY(h.encode(out.data()));

    QByteArray expected(4112, '\0');
    const QByteArray path("/home/anna/\xe6\x96\x87\xe6\xa1\xa3/a.txt");
    expected.replace(0, path.size(), path);
    expected.replace(4096, 4, QByteArray("\x0a\0\0\0", 4));
    expected.replace(4104, 8, QByteArray("\x05\x04\x03\x02\x01\0\0\0", 8));
    QCOMPARE(QByteArray(out.data(), static_cast<int>(out.size())), expected);

    bool terminated = false;
    const FileHeader back = FileHeader::decode(out.data(), &terminated);
    QVERIFY(terminated);
    QCOMPARE(back.path, h.path);
    QCOMPARE(back.homePrefixLength, 10u);
    QCOMPARE(back.size, uint64_t(0x0102030405ull));
}

void RecordsTest::fileHeaderPathLimits_data()
{
    QTest::addColumn<int>("pathLength");
    QTest::addColumn<bool>("fits");
    QTest::newRow("empty path") << 0 << true;
    QTest::newRow("4095 bytes fit with the terminator") << 4095 << true;
    QTest::newRow("4096 bytes leave no room for the terminator") << 4096 << false;
    QTest::newRow("5000 bytes") << 5000 << false;
}

void RecordsTest::fileHeaderPathLimits()
{
    QFETCH(int, pathLength);
    QFETCH(bool, fits);
    FileHeader h;
    h.path = std::string(static_cast<std::size_t>(pathLength), 'p');
    h.size = 7;
    std::vector<char> out(FileHeader::Size, 'x');
    QCOMPARE(h.encode(out.data()), fits);
    if (fits) {
        QCOMPARE(out[static_cast<std::size_t>(pathLength)], '\0');
        QCOMPARE(FileHeader::decode(out.data()).path, h.path);
    } else {
        // Nothing written.
        QCOMPARE(out[0], 'x');
        QCOMPARE(out[4111], 'x');
    }
}

void RecordsTest::fileHeaderWithoutTerminatorStaysInItsField()
{
    // The path field is full of 'a' and no NUL anywhere in the record: the path ends at the field.
    std::vector<char> in(FileHeader::Size, 'a');
    in[4096] = 3;
    in[4097] = in[4098] = in[4099] = 0;
    for (int i = 0; i < 8; ++i) {
        in[4104 + static_cast<std::size_t>(i)] = i == 0 ? 9 : 0;
    }
    bool terminated = true;
    const FileHeader h = FileHeader::decode(in.data(), &terminated);
    QVERIFY(!terminated);
    QCOMPARE(h.path.size(), std::size_t(4096));
    QCOMPARE(h.path.find_first_not_of('a'), std::string::npos);
    QCOMPARE(h.homePrefixLength, 3u);
    QCOMPARE(h.size, uint64_t(9));
}

void RecordsTest::fileHeaderIgnoresBytesAfterTheTerminator()
{
    std::vector<char> in(FileHeader::Size, '\0');
    const std::string text("/tmp/x\0garbage", 14);
    std::copy(text.begin(), text.end(), in.begin());
    in[4100] = 'r'; // reserved bytes are not significant
    const FileHeader h = FileHeader::decode(in.data());
    QCOMPARE(h.path, std::string("/tmp/x"));
    QCOMPARE(h.homePrefixLength, 0u);
    QCOMPARE(h.size, uint64_t(0));
}

MOVANTA_TEST_MAIN(RecordsTest)
#include "tst_records.moc"
