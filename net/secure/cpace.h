#pragma once

#include <array>
#include <initializer_list>

#include <QByteArray>

// CPace, the balanced password-authenticated key exchange, on ristretto255 with SHA-512 (CPACE-RISTR255-SHA512),
// built from libsodium's group and hash. One object is one party of one run: it draws its scalar, gives its
// share Y for the peer and turns the peer's share into the intermediate session key ISK. Points travel in
// their 32-byte public encoding; ISK is 64 bytes.
class Cpace
{
public:
    static constexpr int PointBytes = 32;
    static constexpr int ScalarBytes = 32;
    static constexpr int IskBytes = 64;
    // SHA-512's input block, which the generator string's zero padding fills.
    static constexpr int HashBlockBytes = 128;

    // Initiator speaks first (party A, whose share comes first in the transcript); responder answers (B).
    enum class Role { Initiator, Responder };
    // How the two messages enter ISK: in the order initiator, responder (a protocol with fixed roles), or
    // ordered by value (both may speak first).
    enum class Transcript { InitiatorResponder, Ordered };

    // Loads libsodium once; false when it cannot run here (then nothing below may be used).
    static bool initialize();

    // The length-prefixed encodings everything is hashed in: LEB128 length, then the bytes.
    static QByteArray prependLen(const QByteArray& data);
    static QByteArray lvCat(std::initializer_list<QByteArray> parts);
    static bool lexicographicallyLarger(const QByteArray& a, const QByteArray& b);
    static QByteArray orderedCat(const QByteArray& a, const QByteArray& b);
    static QByteArray transcript(
        Transcript kind, const QByteArray& ya, const QByteArray& adA, const QByteArray& yb, const QByteArray& adB);

    // The password-dependent generator: its input string, that string's 64-byte hash and the point itself.
    static QByteArray generatorString(const QByteArray& prs, const QByteArray& ci, const QByteArray& sid);
    static QByteArray generatorHash(const QByteArray& prs, const QByteArray& ci, const QByteArray& sid);
    static QByteArray calculateGenerator(const QByteArray& prs, const QByteArray& ci, const QByteArray& sid);

    // y * X for an encoded point X. Returns the encoding of the neutral element (32 zero bytes) when X does
    // not decode or the product is neutral: whoever gets it must abort.
    static QByteArray scalarMultVfy(const QByteArray& scalar, const QByteArray& point);
    static QByteArray neutralElement();

    // The public session identifier both parties can compute when no sid was given.
    static QByteArray sidOutput(
        Transcript kind, const QByteArray& ya, const QByteArray& adA, const QByteArray& yb, const QByteArray& adB);

    Cpace(Role role, const QByteArray& prs, const QByteArray& ci, const QByteArray& sid, const QByteArray& ownAd);
    ~Cpace();
    Cpace(const Cpace&) = delete;
    Cpace& operator=(const Cpace&) = delete;

    // Tests only: the scalar to use instead of a fresh random one, so a run can be compared with published
    // values. Must come before share().
    void useScalarForTest(const QByteArray& scalar);

    // Own share Y = y * g. Empty when the generator could not be formed (never for a working libsodium).
    QByteArray share();

    // K = y * peerShare, then ISK over sid, K and the transcript. False (and no ISK) when the peer's share is
    // not a valid point or K is neutral: the run must be aborted.
    bool deriveIsk(
        const QByteArray& peerShare, const QByteArray& peerAd, Transcript kind = Transcript::InitiatorResponder);

    bool hasIsk() const { return iskReady; }
    const std::array<unsigned char, IskBytes>& isk() const { return iskBytes; }

private:
    Role partyRole;
    QByteArray sessionId;
    QByteArray ownData;
    QByteArray ownShare;
    std::array<unsigned char, PointBytes> generator {};
    std::array<unsigned char, ScalarBytes> scalar {};
    std::array<unsigned char, IskBytes> iskBytes {};
    bool generatorReady = false;
    bool scalarGiven = false;
    bool iskReady = false;
};
