#include "net/secure/cpace.h"

#include <algorithm>

#include <sodium.h>

namespace {

const QByteArray dsi = QByteArrayLiteral("CPaceRistretto255");

const unsigned char* bytes(const QByteArray& a)
{
    return reinterpret_cast<const unsigned char*>(a.constData());
}

QByteArray sha512(const QByteArray& data)
{
    QByteArray out(crypto_hash_sha512_BYTES, '\0');
    crypto_hash_sha512(
        reinterpret_cast<unsigned char*>(out.data()), bytes(data), static_cast<unsigned long long>(data.size()));
    return out;
}

// Buffers derived from the password or K are wiped before they are let go.
void wipe(QByteArray& a)
{
    if (!a.isEmpty()) {
        sodium_memzero(a.data(), static_cast<size_t>(a.size()));
    }
    a.clear();
}

// The draft's sample_scalar: 32 random bytes with the bits above the group's 252 cleared.
void sampleScalar(std::array<unsigned char, Cpace::ScalarBytes>& s)
{
    randombytes_buf(s.data(), s.size());
    s[Cpace::ScalarBytes - 1] &= 0x0f;
}

} // namespace

bool Cpace::initialize()
{
    // sodium_init is thread-safe and returns 1 once it has already run.
    return sodium_init() >= 0;
}

QByteArray Cpace::prependLen(const QByteArray& data)
{
    QByteArray out;
    std::size_t length = static_cast<std::size_t>(data.size());
    do {
        const unsigned char low = length & 0x7f;
        length >>= 7;
        out.append(static_cast<char>(length ? (low | 0x80) : low));
    } while (length);
    out.append(data);
    return out;
}

QByteArray Cpace::lvCat(std::initializer_list<QByteArray> parts)
{
    QByteArray out;
    for (const QByteArray& p : parts) {
        out.append(prependLen(p));
    }
    return out;
}

bool Cpace::lexicographicallyLarger(const QByteArray& a, const QByteArray& b)
{
    const int common = std::min(a.size(), b.size());
    for (int i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            return x > y;
        }
    }
    return a.size() > b.size();
}

QByteArray Cpace::orderedCat(const QByteArray& a, const QByteArray& b)
{
    return lexicographicallyLarger(a, b) ? QByteArrayLiteral("oc") + a + b : QByteArrayLiteral("oc") + b + a;
}

QByteArray Cpace::transcript(
    Transcript kind, const QByteArray& ya, const QByteArray& adA, const QByteArray& yb, const QByteArray& adB)
{
    const QByteArray first = lvCat({ya, adA});
    const QByteArray second = lvCat({yb, adB});
    return kind == Transcript::InitiatorResponder ? first + second : orderedCat(first, second);
}

QByteArray Cpace::generatorString(const QByteArray& prs, const QByteArray& ci, const QByteArray& sid)
{
    const int used = prependLen(prs).size() + prependLen(dsi).size() + 1;
    const int zeroPad = std::max(0, HashBlockBytes - used);
    return lvCat({dsi, prs, QByteArray(zeroPad, '\0'), ci, sid});
}

QByteArray Cpace::generatorHash(const QByteArray& prs, const QByteArray& ci, const QByteArray& sid)
{
    QByteArray s = generatorString(prs, ci, sid);
    const QByteArray h = sha512(s);
    wipe(s);
    return h;
}

QByteArray Cpace::calculateGenerator(const QByteArray& prs, const QByteArray& ci, const QByteArray& sid)
{
    if (!initialize()) {
        return {};
    }
    QByteArray h = generatorHash(prs, ci, sid);
    QByteArray g(crypto_core_ristretto255_BYTES, '\0');
    crypto_core_ristretto255_from_hash(reinterpret_cast<unsigned char*>(g.data()), bytes(h));
    wipe(h);
    return g;
}

QByteArray Cpace::neutralElement()
{
    return QByteArray(PointBytes, '\0');
}

QByteArray Cpace::scalarMultVfy(const QByteArray& scalar, const QByteArray& point)
{
    if (!initialize() || scalar.size() != ScalarBytes || point.size() != PointBytes) {
        return neutralElement();
    }
    QByteArray out(PointBytes, '\0');
    // libsodium refuses an encoding that does not decode and a neutral product alike.
    if (crypto_scalarmult_ristretto255(reinterpret_cast<unsigned char*>(out.data()), bytes(scalar), bytes(point))
        != 0) {
        return neutralElement();
    }
    return out;
}

QByteArray Cpace::sidOutput(
    Transcript kind, const QByteArray& ya, const QByteArray& adA, const QByteArray& yb, const QByteArray& adB)
{
    return sha512(QByteArrayLiteral("CPaceSidOutput") + transcript(kind, ya, adA, yb, adB));
}

Cpace::Cpace(Role role, const QByteArray& prs, const QByteArray& ci, const QByteArray& sid, const QByteArray& ownAd)
    : partyRole(role), sessionId(sid), ownData(ownAd)
{
    QByteArray g = calculateGenerator(prs, ci, sid);
    if (g.size() == PointBytes) {
        std::copy(g.begin(), g.end(), generator.begin());
        generatorReady = true;
    }
    wipe(g);
}

Cpace::~Cpace()
{
    sodium_memzero(generator.data(), generator.size());
    sodium_memzero(scalar.data(), scalar.size());
    sodium_memzero(iskBytes.data(), iskBytes.size());
}

void Cpace::useScalarForTest(const QByteArray& given)
{
    if (given.size() == ScalarBytes) {
        std::copy(given.begin(), given.end(), scalar.begin());
        scalarGiven = true;
    }
}

QByteArray Cpace::share()
{
    if (!generatorReady) {
        return {};
    }
    if (!ownShare.isEmpty()) {
        return ownShare;
    }
    QByteArray y(PointBytes, '\0');
    auto* out = reinterpret_cast<unsigned char*>(y.data());
    if (scalarGiven) {
        if (crypto_scalarmult_ristretto255(out, scalar.data(), generator.data()) != 0) {
            return {};
        }
    } else {
        // Only a zero scalar gives the neutral share; draw again in that (2^-252) case.
        do {
            sampleScalar(scalar);
        } while (crypto_scalarmult_ristretto255(out, scalar.data(), generator.data()) != 0);
    }
    ownShare = y;
    return ownShare;
}

bool Cpace::deriveIsk(const QByteArray& peerShare, const QByteArray& peerAd, Transcript kind)
{
    iskReady = false;
    if (ownShare.isEmpty() || peerShare.size() != PointBytes) {
        return false;
    }
    QByteArray k(PointBytes, '\0');
    if (crypto_scalarmult_ristretto255(reinterpret_cast<unsigned char*>(k.data()), scalar.data(), bytes(peerShare))
        != 0) {
        wipe(k);
        return false;
    }
    const bool initiator = partyRole == Role::Initiator;
    const QByteArray t = initiator ? transcript(kind, ownShare, ownData, peerShare, peerAd)
                                   : transcript(kind, peerShare, peerAd, ownShare, ownData);
    QByteArray input = lvCat({dsi + QByteArrayLiteral("_ISK"), sessionId, k}) + t;
    crypto_hash_sha512(iskBytes.data(), bytes(input), static_cast<unsigned long long>(input.size()));
    wipe(input);
    wipe(k);
    iskReady = true;
    return true;
}
