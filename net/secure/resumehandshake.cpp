#include "net/secure/resumehandshake.h"

#include <sodium.h>

#include "net/secure/cpace.h"
#include "net/secure/securehandshake.h"

namespace {

constexpr char Version = 1;
constexpr char Known = 1;
constexpr char Unknown = 0;

QByteArray keyBytes(const SessionKeys::Key& k)
{
    return QByteArray(reinterpret_cast<const char*>(k.data()), static_cast<int>(k.size()));
}

QByteArray nonce()
{
    QByteArray n(ResumeHandshake::NonceBytes, '\0');
    randombytes_buf(n.data(), static_cast<size_t>(n.size()));
    return n;
}

} // namespace

ResumeHandshake::ResumeHandshake(Role role, const std::optional<SessionKeys::Key>& given) : side(role)
{
    if (given) {
        secret = *given;
        hasSecret = true;
    }
    if (!Cpace::initialize()) {
        fail(Failure::Unavailable);
    } else if (side == Role::Initiator && !hasSecret) {
        fail(Failure::UnknownSecret);
    }
}

ResumeHandshake::~ResumeHandshake()
{
    sodium_memzero(secret.data(), secret.size());
    sodium_memzero(initiatorProof.data(), initiatorProof.size());
    sodium_memzero(responderProof.data(), responderProof.size());
}

QByteArray ResumeHandshake::secretId() const
{
    return keyBytes(SessionKeys::derive(secret.data(), secret.size(), "movanta resume id", {})).left(IdBytes);
}

QByteArray ResumeHandshake::start()
{
    if (side != Role::Initiator || started || currentState != State::Running) {
        return {};
    }
    started = true;
    opening = SecureHandshake::prefix(SecureHandshake::Opening::Resume) + QByteArray(1, Version) + secretId() + nonce();
    return opening;
}

QByteArray ResumeHandshake::feed(const QByteArray& bytes)
{
    pending.append(bytes);
    if (currentState != State::Running) {
        return {};
    }
    return side == Role::Responder ? feedResponder() : feedInitiator();
}

QByteArray ResumeHandshake::feedResponder()
{
    QByteArray out;
    if (!answered) {
        const SecureHandshake::Opening kind = SecureHandshake::classify(pending);
        if (kind != SecureHandshake::Opening::Incomplete && kind != SecureHandshake::Opening::Resume) {
            return fail(Failure::Malformed);
        }
        if (pending.size() < OpeningBytes) {
            return {};
        }
        if (pending[SecureHandshake::PrefixBytes] != Version) {
            return fail(Failure::Unsupported);
        }
        opening = pending.left(OpeningBytes);
        pending.remove(0, OpeningBytes);
        const QByteArray id = opening.mid(SecureHandshake::PrefixBytes + 1, IdBytes);
        if (!hasSecret || id != secretId()) {
            fail(Failure::UnknownSecret);
            return QByteArray(1, Unknown);
        }
        const QByteArray replyHead = QByteArray(1, Known) + nonce();
        proofs(opening + replyHead);
        out = replyHead + keyBytes(responderProof);
        answered = true;
    }
    if (pending.size() < FinishBytes) {
        return out;
    }
    const bool proven = SessionKeys::sameTag(initiatorProof, pending.constData());
    pending.remove(0, FinishBytes);
    if (!proven) {
        fail(Failure::WrongProof);
        return out;
    }
    currentState = State::Done;
    return out;
}

QByteArray ResumeHandshake::feedInitiator()
{
    if (!started) {
        return fail(Failure::Malformed);
    }
    if (pending.isEmpty()) {
        return {};
    }
    if (pending[0] == Unknown) {
        return fail(Failure::UnknownSecret);
    }
    if (pending[0] != Known) {
        return fail(Failure::Malformed);
    }
    if (pending.size() < ReplyBytes) {
        return {};
    }
    const QByteArray replyHead = pending.left(1 + NonceBytes);
    const QByteArray proof = pending.mid(replyHead.size(), SessionKeys::KeyBytes);
    pending.remove(0, ReplyBytes);
    proofs(opening + replyHead);
    if (!SessionKeys::sameTag(responderProof, proof.constData())) {
        fail(Failure::WrongProof);
        // Tell the responder at once rather than let it wait: a proof no real one can equal.
        return QByteArray(FinishBytes, '\0');
    }
    currentState = State::Done;
    return keyBytes(initiatorProof);
}

void ResumeHandshake::proofs(const QByteArray& transcript)
{
    QByteArray hash(crypto_hash_sha512_BYTES, '\0');
    crypto_hash_sha512(reinterpret_cast<unsigned char*>(hash.data()),
        reinterpret_cast<const unsigned char*>(transcript.constData()),
        static_cast<unsigned long long>(transcript.size()));
    initiatorProof = SessionKeys::derive(secret.data(), secret.size(), "movanta resume proof initiator", hash);
    responderProof = SessionKeys::derive(secret.data(), secret.size(), "movanta resume proof responder", hash);
    sessionKeys = SessionKeys::split(secret.data(), secret.size(), hash, side == Role::Initiator);
    sessionKeys.resume = secret;
}

QByteArray ResumeHandshake::fail(Failure why)
{
    currentState = State::Failed;
    currentFailure = why;
    sessionKeys = SessionKeys();
    return {};
}

QByteArray ResumeHandshake::takeExcess()
{
    if (currentState != State::Done) {
        return {};
    }
    QByteArray out = pending;
    pending.clear();
    return out;
}
