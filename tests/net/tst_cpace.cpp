#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "testmain.h"

#include "net/secure/cpace.h"

// The published CPace vectors for ristretto255 with SHA-512 (tests/net/data/cpace-vectors.json, copied
// unchanged) and the string-function vectors printed beside them.
class CpaceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void prependLen_data();
    void prependLen();
    void lvCat();
    void lexicographicOrder_data();
    void lexicographicOrder();
    void orderedCat_data();
    void orderedCat();
    void transcripts_data();
    void transcripts();
    void generator();
    void shares_data();
    void shares();
    void secretPoint();
    void isk_data();
    void isk();
    void sidOutput_data();
    void sidOutput();
    void scalarMultValid();
    void scalarMultInvalid_data();
    void scalarMultInvalid();
    void invalidShareAborts_data();
    void invalidShareAborts();
    void randomRuns_data();
    void randomRuns();

private:
    QByteArray v(const char* name) const;
    QJsonObject suite;
    QJsonObject points;
};

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray fromArray(const std::array<unsigned char, Cpace::IskBytes>& a)
{
    return QByteArray(reinterpret_cast<const char*>(a.data()), static_cast<int>(a.size()));
}

QByteArray range(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        out.append(static_cast<char>(i));
    }
    return out;
}

} // namespace

QByteArray CpaceTest::v(const char* name) const
{
    const QJsonValue value = suite.value(QLatin1String(name));
    return QByteArray::fromHex(value.toString().toLatin1());
}

void CpaceTest::initTestCase()
{
    QVERIFY(Cpace::initialize());
    // ctest names the source tree; started by hand from the build folder, the relative path finds it.
    const QString source = qEnvironmentVariable("MOVANTA_SOURCE_DIR", QStringLiteral(".."));
    QFile file(source + QStringLiteral("/tests/net/data/cpace-vectors.json"));
    QVERIFY2(file.open(QIODevice::ReadOnly), "the vector file is missing");
    const QJsonObject all = QJsonDocument::fromJson(file.readAll()).object();
    suite = all.value(QStringLiteral("G_Coffee25519")).toObject();
    points = all.value(QStringLiteral("G_Coffee25519_points")).toObject();
    // Every field the tests below use, so an emptied file cannot make them pass vacuously.
    for (const char* key : {"PRS", "CI", "sid", "g", "ya", "ADa", "Ya", "yb", "ADb", "Yb", "K", "ISK_IR", "ISK_SY",
             "sid_output_ir", "sid_output_oc"}) {
        QVERIFY2(!v(key).isEmpty(), key);
    }
    QVERIFY(points.contains(QStringLiteral("Valid")));
}

void CpaceTest::prependLen_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << QByteArray() << hex("00");
    QTest::newRow("1234") << QByteArray("1234") << hex("0431323334");
    QTest::newRow("127 bytes, one length byte") << range(127) << hex("7f") + range(127);
    QTest::newRow("128 bytes, two length bytes") << range(128) << hex("8001") + range(128);
    QTest::newRow("300 bytes") << QByteArray(300, 'x') << hex("ac02") + QByteArray(300, 'x');
}

void CpaceTest::prependLen()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);
    QCOMPARE(Cpace::prependLen(data).toHex(), expected.toHex());
}

void CpaceTest::lvCat()
{
    QCOMPARE(Cpace::lvCat({"1234", "5", "", "678"}).toHex(), QByteArray("043132333401350003363738"));
}

void CpaceTest::lexicographicOrder_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("larger");
    QTest::newRow("0 vs 00") << QByteArray(1, '\0') << QByteArray(2, '\0') << false;
    QTest::newRow("1 vs 00") << QByteArray(1, '\1') << QByteArray(2, '\0') << true;
    QTest::newRow("00 vs 0") << QByteArray(2, '\0') << QByteArray(1, '\0') << true;
    QTest::newRow("00 vs 1") << QByteArray(2, '\0') << QByteArray(1, '\1') << false;
    QTest::newRow("01 vs 1") << hex("0001") << hex("01") << false;
    QTest::newRow("ABCD vs BCD") << QByteArray("ABCD") << QByteArray("BCD") << false;
    QTest::newRow("bytes above 127 compare unsigned") << hex("80") << hex("7f") << true;
}

void CpaceTest::lexicographicOrder()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, larger);
    QCOMPARE(Cpace::lexicographicallyLarger(a, b), larger);
}

void CpaceTest::orderedCat_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ABCD, BCD") << QByteArray("ABCD") << QByteArray("BCD") << hex("6f6342434441424344");
    QTest::newRow("BCD, ABCDE") << QByteArray("BCD") << QByteArray("ABCDE") << hex("6f634243444142434445");
}

void CpaceTest::orderedCat()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(QByteArray, expected);
    QCOMPARE(Cpace::orderedCat(a, b).toHex(), expected.toHex());
}

void CpaceTest::transcripts_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("ya");
    QTest::addColumn<QByteArray>("yb");
    QTest::addColumn<QByteArray>("expected");
    const int ir = int(Cpace::Transcript::InitiatorResponder);
    const int oc = int(Cpace::Transcript::Ordered);
    QTest::newRow("initiator-responder 123/234")
        << ir << QByteArray("123") << QByteArray("234") << hex("03313233065061727479410332333406506172747942");
    QTest::newRow("initiator-responder 3456/2345")
        << ir << QByteArray("3456") << QByteArray("2345") << hex("043334353606506172747941043233343506506172747942");
    QTest::newRow("ordered 123/234") << oc << QByteArray("123") << QByteArray("234")
                                     << hex("6f6303323334065061727479420331323306506172747941");
    QTest::newRow("ordered 3456/2345") << oc << QByteArray("3456") << QByteArray("2345")
                                       << hex("6f63043334353606506172747941043233343506506172747942");
}

void CpaceTest::transcripts()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, ya);
    QFETCH(QByteArray, yb);
    QFETCH(QByteArray, expected);
    QCOMPARE(Cpace::transcript(Cpace::Transcript(kind), ya, "PartyA", yb, "PartyB").toHex(), expected.toHex());
}

void CpaceTest::generator()
{
    const QByteArray prs = v("PRS");
    QCOMPARE(prs, QByteArray("Password"));
    const QByteArray string = Cpace::generatorString(prs, v("CI"), v("sid"));
    QCOMPARE(string.size(), 170);
    // The zero padding fills SHA-512's first block: 1 + 17 (DSI) + 1 + 8 (PRS) + 1 + 100 zeros = 128.
    QCOMPARE(string.mid(27, 1).toHex(), QByteArray("64"));
    QCOMPARE(string.mid(28, 100), QByteArray(100, '\0'));
    QCOMPARE(string.toHex(),
        QByteArray("11435061636552697374726574746f3235350850617373776f726464"
                   "00000000000000000000000000000000000000000000000000000000"
                   "00000000000000000000000000000000000000000000000000000000"
                   "00000000000000000000000000000000000000000000000000000000"
                   "00000000000000000000000000000000180b415f696e69746961746f"
                   "720b425f726573706f6e646572107e4b4791d6a8ef019b936c79fb7f"
                   "2c57"));
    QCOMPARE(Cpace::generatorHash(prs, v("CI"), v("sid")).toHex(),
        QByteArray("da6d3ddc8802fca9058755ffd3ebde08a9c2c74945901a258482a288"
                   "b6663af06bf645c93cd1c51512307199c80e84908916d983b34af772"
                   "05f90851a657ee27"));
    QCOMPARE(Cpace::calculateGenerator(prs, v("CI"), v("sid")).toHex(), v("g").toHex());
}

void CpaceTest::shares_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QByteArray>("scalar");
    QTest::addColumn<QByteArray>("ad");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("A") << int(Cpace::Role::Initiator) << v("ya") << v("ADa") << v("Ya");
    QTest::newRow("B") << int(Cpace::Role::Responder) << v("yb") << v("ADb") << v("Yb");
}

void CpaceTest::shares()
{
    QFETCH(int, role);
    QFETCH(QByteArray, scalar);
    QFETCH(QByteArray, ad);
    QFETCH(QByteArray, expected);
    Cpace party(Cpace::Role(role), v("PRS"), v("CI"), v("sid"), ad);
    party.useScalarForTest(scalar);
    QCOMPARE(party.share().toHex(), expected.toHex());
    // Asked again, the same share: one scalar per run.
    QCOMPARE(party.share().toHex(), expected.toHex());
}

void CpaceTest::secretPoint()
{
    QCOMPARE(Cpace::scalarMultVfy(v("ya"), v("Yb")).toHex(), v("K").toHex());
    QCOMPARE(Cpace::scalarMultVfy(v("yb"), v("Ya")).toHex(), v("K").toHex());
}

void CpaceTest::isk_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("initiator-responder") << int(Cpace::Transcript::InitiatorResponder) << v("ISK_IR");
    QTest::newRow("ordered") << int(Cpace::Transcript::Ordered) << v("ISK_SY");
}

void CpaceTest::isk()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, expected);
    QCOMPARE(expected.size(), Cpace::IskBytes);
    Cpace a(Cpace::Role::Initiator, v("PRS"), v("CI"), v("sid"), v("ADa"));
    Cpace b(Cpace::Role::Responder, v("PRS"), v("CI"), v("sid"), v("ADb"));
    a.useScalarForTest(v("ya"));
    b.useScalarForTest(v("yb"));
    const QByteArray ya = a.share();
    const QByteArray yb = b.share();
    QVERIFY(!a.hasIsk());
    QVERIFY(a.deriveIsk(yb, v("ADb"), Cpace::Transcript(kind)));
    QVERIFY(b.deriveIsk(ya, v("ADa"), Cpace::Transcript(kind)));
    QCOMPARE(fromArray(a.isk()).toHex(), expected.toHex());
    QCOMPARE(fromArray(b.isk()).toHex(), expected.toHex());
}

void CpaceTest::sidOutput_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("initiator-responder") << int(Cpace::Transcript::InitiatorResponder) << v("sid_output_ir");
    QTest::newRow("ordered") << int(Cpace::Transcript::Ordered) << v("sid_output_oc");
}

void CpaceTest::sidOutput()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, expected);
    QCOMPARE(Cpace::sidOutput(Cpace::Transcript(kind), v("Ya"), v("ADa"), v("Yb"), v("ADb")).toHex(), expected.toHex());
}

void CpaceTest::scalarMultValid()
{
    const QJsonObject valid = points.value(QStringLiteral("Valid")).toObject();
    const QByteArray s = QByteArray::fromHex(valid.value(QStringLiteral("s")).toString().toLatin1());
    const QByteArray x = QByteArray::fromHex(valid.value(QStringLiteral("X")).toString().toLatin1());
    const QByteArray expected
        = QByteArray::fromHex(valid.value(QStringLiteral("G.scalar_mult_vfy(s,X)")).toString().toLatin1());
    QCOMPARE(expected.size(), Cpace::PointBytes);
    QCOMPARE(Cpace::scalarMultVfy(s, x).toHex(), expected.toHex());
    QCOMPARE(
        QByteArray::fromHex(valid.value(QStringLiteral("G.scalar_mult(s,decode(X))")).toString().toLatin1()), expected);
}

void CpaceTest::scalarMultInvalid_data()
{
    QTest::addColumn<QByteArray>("point");
    QTest::newRow("not an encoding") << QByteArray::fromHex(
        points.value(QStringLiteral("Invalid Y1")).toString().toLatin1());
    QTest::newRow("neutral element") << QByteArray::fromHex(
        points.value(QStringLiteral("Invalid Y2")).toString().toLatin1());
}

void CpaceTest::scalarMultInvalid()
{
    QFETCH(QByteArray, point);
    QCOMPARE(point.size(), Cpace::PointBytes);
    const QByteArray s = QByteArray::fromHex(
        points.value(QStringLiteral("Valid")).toObject().value(QStringLiteral("s")).toString().toLatin1());
    QCOMPARE(Cpace::scalarMultVfy(s, point), Cpace::neutralElement());
}

void CpaceTest::invalidShareAborts_data()
{
    scalarMultInvalid_data();
    QTest::newRow("short") << QByteArray(31, '\x01');
}

void CpaceTest::invalidShareAborts()
{
    QFETCH(QByteArray, point);
    Cpace b(Cpace::Role::Responder, v("PRS"), v("CI"), v("sid"), v("ADb"));
    b.useScalarForTest(v("yb"));
    QVERIFY(!b.share().isEmpty());
    QVERIFY(!b.deriveIsk(point, v("ADa")));
    QVERIFY(!b.hasIsk());
}

void CpaceTest::randomRuns_data()
{
    QTest::addColumn<QByteArray>("prsB");
    QTest::addColumn<QByteArray>("sidB");
    QTest::addColumn<QByteArray>("adSeenByB");
    QTest::addColumn<bool>("agree");
    QTest::newRow("same inputs") << QByteArray("123456") << QByteArray("sid") << QByteArray("ADa") << true;
    QTest::newRow("other code") << QByteArray("123457") << QByteArray("sid") << QByteArray("ADa") << false;
    QTest::newRow("other sid") << QByteArray("123456") << QByteArray("sie") << QByteArray("ADa") << false;
    QTest::newRow("altered associated data") << QByteArray("123456") << QByteArray("sid") << QByteArray("ADx") << false;
}

void CpaceTest::randomRuns()
{
    QFETCH(QByteArray, prsB);
    QFETCH(QByteArray, sidB);
    QFETCH(QByteArray, adSeenByB);
    QFETCH(bool, agree);
    Cpace a(Cpace::Role::Initiator, "123456", "ci", "sid", "ADa");
    Cpace b(Cpace::Role::Responder, prsB, "ci", sidB, "ADb");
    const QByteArray ya = a.share();
    const QByteArray yb = b.share();
    QCOMPARE(ya.size(), Cpace::PointBytes);
    QVERIFY(ya != yb);
    QVERIFY(a.deriveIsk(yb, "ADb"));
    QVERIFY(b.deriveIsk(ya, adSeenByB));
    QCOMPARE(a.isk() == b.isk(), agree);
    // A second run with the same inputs draws a fresh scalar, so its share and key differ.
    Cpace again(Cpace::Role::Initiator, "123456", "ci", "sid", "ADa");
    QVERIFY(again.share() != ya);
}

MOVANTA_TEST_MAIN(CpaceTest)
#include "tst_cpace.moc"
