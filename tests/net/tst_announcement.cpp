#include <cstring>
#include <fstream>

#include <QTemporaryDir>

#include "testmain.h"

#include "net/announcement.h"
#include "net/distro.h"

class AnnouncementTest : public QObject
{
    Q_OBJECT

private slots:
    void encodeLayout();
    void longNamesAreCut_data();
    void longNamesAreCut();
    void cutUtf8_data();
    void cutUtf8();
    void decodeLengths_data();
    void decodeLengths();
    void decodeStopsAtTheEndOfAField();
    void distroName_data();
    void distroName();
    void distroNameOfAMissingFile();
};

void AnnouncementTest::encodeLayout()
{
    Announcement a;
    a.hostName = "anna-pc";
    a.distro = "Debian GNU/Linux";
    char out[Announcement::Size];
    std::memset(out, 'x', sizeof(out));
    a.encode(out);

    QByteArray expected(66, '\0');
    expected.replace(0, 7, "anna-pc");
    expected.replace(32, 16, "Debian GNU/Linux");
    expected[64] = 2;
    expected[65] = 0;
    QCOMPARE(QByteArray(out, sizeof(out)), expected);

    Announcement back;
    QVERIFY(Announcement::decode(out, sizeof(out), back));
    QCOMPARE(back.hostName, a.hostName);
    QCOMPARE(back.distro, a.distro);
    QCOMPARE(back.type, uint16_t(2));
}

void AnnouncementTest::longNamesAreCut_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("sent");
    const QByteArray zhong("\xe4\xb8\xad"); // 中, three bytes
    QTest::newRow("31 bytes fit") << QByteArray(31, 'h') << QByteArray(31, 'h');
    QTest::newRow("32 bytes are cut to 31") << QByteArray(32, 'h') << QByteArray(31, 'h');
    QTest::newRow("100 bytes are cut to 31") << QByteArray(100, 'h') << QByteArray(31, 'h');
    QTest::newRow("a character across byte 31 goes whole") << zhong.repeated(11) << zhong.repeated(10);
    QTest::newRow("a character ending at byte 31 stays") << "a" + zhong.repeated(11) << "a" + zhong.repeated(10);
    QTest::newRow("a 4-byte character across the limit")
        << QByteArray(29, 'h') + "\xf0\x9f\x98\x80" << QByteArray(29, 'h');
}

void AnnouncementTest::longNamesAreCut()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, sent);
    Announcement a;
    a.hostName = name.toStdString();
    a.distro = name.toStdString();
    char out[Announcement::Size];
    a.encode(out);
    // Each field keeps its terminator, and the type is untouched by the names.
    QCOMPARE(QByteArray(out, static_cast<int>(std::strlen(out))), sent);
    QCOMPARE(QByteArray(out + 32, static_cast<int>(std::strlen(out + 32))), sent);
    QCOMPARE(out[31], '\0');
    QCOMPARE(out[63], '\0');
    QCOMPARE(out[64], '\x02');
    QCOMPARE(out[65], '\0');
}

void AnnouncementTest::cutUtf8_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("max");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("short text is kept") << QByteArray("abc") << 31 << QByteArray("abc");
    QTest::newRow("ascii is cut at the limit") << QByteArray("abcdef") << 4 << QByteArray("abcd");
    QTest::newRow("two-byte character split") << QByteArray("ab\xc3\xa9") << 3 << QByteArray("ab");
    QTest::newRow("two-byte character fits") << QByteArray("ab\xc3\xa9z") << 4 << QByteArray("ab\xc3\xa9");
    QTest::newRow("zero bytes") << QByteArray("abc") << 0 << QByteArray();
}

void AnnouncementTest::cutUtf8()
{
    QFETCH(QByteArray, text);
    QFETCH(int, max);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(::cutUtf8(text.toStdString(), static_cast<std::size_t>(max))), expected);
}

void AnnouncementTest::decodeLengths_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty datagram") << 0 << false;
    QTest::newRow("65 bytes are ignored") << 65 << false;
    QTest::newRow("66 bytes") << 66 << true;
    QTest::newRow("67 bytes count by the first 66") << 67 << true;
}

void AnnouncementTest::decodeLengths()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    QByteArray datagram(67, '\0');
    datagram.replace(0, 4, "host");
    datagram.replace(32, 6, "Distro");
    datagram[64] = 2;
    datagram[66] = 'z';
    Announcement a;
    a.hostName = "untouched";
    QCOMPARE(Announcement::decode(datagram.constData(), static_cast<std::size_t>(length), a), accepted);
    if (accepted) {
        QCOMPARE(a.hostName, std::string("host"));
        QCOMPARE(a.distro, std::string("Distro"));
        QCOMPARE(a.type, uint16_t(2));
    } else {
        QCOMPARE(a.hostName, std::string("untouched"));
    }
}

void AnnouncementTest::decodeStopsAtTheEndOfAField()
{
    // No terminator in either field: each text is its whole field and nothing of the next one.
    QByteArray datagram(66, 'n');
    datagram.replace(32, 32, QByteArray(32, 'd'));
    datagram[64] = 0x34;
    datagram[65] = 0x12;
    Announcement a;
    QVERIFY(Announcement::decode(datagram.constData(), 66, a));
    QCOMPARE(a.hostName, std::string(32, 'n'));
    QCOMPARE(a.distro, std::string(32, 'd'));
    QCOMPARE(a.type, uint16_t(0x1234));
}

void AnnouncementTest::distroName_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("Debian") << QByteArray("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
                                          "VERSION_ID=\"12\"\n")
                            << QByteArray("Debian GNU/Linux");
    QTest::newRow("first NAME line wins") << QByteArray("NAME=\"One\"\nNAME=\"Two\"\n") << QByteArray("One");
    QTest::newRow("unquoted NAME does not match") << QByteArray("NAME=Alpine\n") << QByteArray();
    QTest::newRow("unquoted first, quoted later") << QByteArray("NAME=Alpine\nNAME=\"Later\"\n") << QByteArray("Later");
    QTest::newRow("empty name") << QByteArray("NAME=\"\"\n") << QByteArray();
    QTest::newRow("quote inside the value") << QByteArray("NAME=\"a\"b\"\n") << QByteArray("a\"b");
    QTest::newRow("trailing space does not match") << QByteArray("NAME=\"Deepin\" \n") << QByteArray();
    QTest::newRow("Chinese name") << QByteArray("NAME=\"\xe7\xbb\x9f\xe4\xbf\xa1\"")
                                  << QByteArray("\xe7\xbb\x9f\xe4\xbf\xa1");
    QTest::newRow("no NAME line") << QByteArray("ID=debian\n") << QByteArray();
}

void AnnouncementTest::distroName()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = dir.filePath("os-release").toStdString();
    {
        std::ofstream out(path, std::ios::binary);
        out.write(content.constData(), content.size());
    }
    QCOMPARE(QByteArray::fromStdString(getdistroname(path)), expected);
}

void AnnouncementTest::distroNameOfAMissingFile()
{
    QTemporaryDir dir;
    QCOMPARE(getdistroname(dir.filePath("missing").toStdString()), std::string());
}

MOVANTA_TEST_MAIN(AnnouncementTest)
#include "tst_announcement.moc"
