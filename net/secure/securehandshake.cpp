#include "net/secure/securehandshake.h"

#include <algorithm>

#include <sodium.h>

#include "net/secure/cpace.h"

namespace {

// Both roles are named in the channel identifier, so a run can never be mirrored onto another pair of roles.
const QByteArray channelId = Cpace::lvCat({"movanta sender", "movanta receiver"});

QByteArray versionByte()
{
    return QByteArray(1, static_cast<char>(SecureHandshake::Version));
}

QByteArray keyBytes(const SessionKeys::Key& k)
{
    return QByteArray(reinterpret_cast<const char*>(k.data()), static_cast<int>(k.size()));
}

} // namespace

QByteArray SecureHandshake::prefix(Opening kind)
{
    QByteArray p("\x89MOVSEC", 7);
    p.append(kind == Opening::Resume ? 'R' : 'P');
    return p;
}

SecureHandshake::Opening SecureHandshake::classify(const QByteArray& firstBytes)
{
    for (Opening kind : {Opening::Pairing, Opening::Resume}) {
        const QByteArray p = prefix(kind);
        const int n = std::min(firstBytes.size(), p.size());
        if (firstBytes.left(n) == p.left(n)) {
            // Both prefixes share all but their last byte, so an undecided match is undecided for both.
            return n < p.size() ? Opening::Incomplete : kind;
        }
    }
    return Opening::Plain;
}

SecureHandshake::SecureHandshake(Role role, const QByteArray& code) : side(role), codeBytes(code)
{
    if (!Cpace::initialize()) {
        fail(Failure::Unavailable);
    }
}

SecureHandshake::~SecureHandshake()
{
    if (!codeBytes.isEmpty()) {
        sodium_memzero(codeBytes.data(), static_cast<size_t>(codeBytes.size()));
    }
    sodium_memzero(initiatorTag.data(), initiatorTag.size());
    sodium_memzero(responderTag.data(), responderTag.size());
}

QByteArray SecureHandshake::start()
{
    if (side != Role::Initiator || started || currentState != State::Running) {
        return {};
    }
    started = true;
    QByteArray sid(SidBytes, '\0');
    randombytes_buf(sid.data(), static_cast<size_t>(sid.size()));
    const QByteArray header = prefix(Opening::Pairing) + versionByte();
    cpace = std::make_unique<Cpace>(Cpace::Role::Initiator, codeBytes, channelId, sid, header);
    const QByteArray ya = cpace->share();
    if (ya.size() != Cpace::PointBytes) {
        return fail(Failure::Unavailable);
    }
    opening = header + sid + ya;
    return opening;
}

QByteArray SecureHandshake::feed(const QByteArray& bytes)
{
    pending.append(bytes);
    if (currentState != State::Running) {
        return {};
    }
    return side == Role::Responder ? feedResponder() : feedInitiator();
}

QByteArray SecureHandshake::feedResponder()
{
    QByteArray out;
    if (!answered) {
        const Opening kind = classify(pending);
        if (kind != Opening::Incomplete && kind != Opening::Pairing) {
            return fail(Failure::Malformed);
        }
        if (pending.size() < OpeningBytes) {
            return {};
        }
        if (static_cast<unsigned char>(pending[PrefixBytes]) != Version) {
            return fail(Failure::Unsupported);
        }
        opening = pending.left(OpeningBytes);
        pending.remove(0, OpeningBytes);
        const QByteArray header = opening.left(PrefixBytes + 1);
        const QByteArray sid = opening.mid(PrefixBytes + 1, SidBytes);
        const QByteArray ya = opening.mid(PrefixBytes + 1 + SidBytes);
        cpace = std::make_unique<Cpace>(Cpace::Role::Responder, codeBytes, channelId, sid, versionByte());
        const QByteArray yb = cpace->share();
        if (yb.size() != Cpace::PointBytes) {
            return fail(Failure::Unavailable);
        }
        if (!cpace->deriveIsk(ya, header)) {
            return fail(Failure::Malformed);
        }
        const QByteArray replyHead = versionByte() + yb;
        confirmTags(opening + replyHead);
        out = replyHead + keyBytes(responderTag);
        answered = true;
    }
    if (pending.size() < FinishBytes) {
        return out;
    }
    const bool confirmed = SessionKeys::sameTag(initiatorTag, pending.constData());
    pending.remove(0, FinishBytes);
    if (!confirmed) {
        fail(Failure::WrongCode);
        return out;
    }
    currentState = State::Done;
    return out;
}

QByteArray SecureHandshake::feedInitiator()
{
    if (!started) {
        // The responder never speaks first.
        return fail(Failure::Malformed);
    }
    // Judged on its first byte: a receiver that offered this handshake and answers in plain ("S0", "S1") is
    // refused at once rather than waited for.
    if (!pending.isEmpty() && static_cast<unsigned char>(pending[0]) != Version) {
        return fail(Failure::Unsupported);
    }
    if (pending.size() < ReplyBytes) {
        return {};
    }
    const QByteArray replyHead = pending.left(1 + Cpace::PointBytes);
    const QByteArray tag = pending.mid(replyHead.size(), SessionKeys::KeyBytes);
    pending.remove(0, ReplyBytes);
    if (!cpace->deriveIsk(replyHead.mid(1), replyHead.left(1))) {
        return fail(Failure::Malformed);
    }
    confirmTags(opening + replyHead);
    if (!SessionKeys::sameTag(responderTag, tag.constData())) {
        fail(Failure::WrongCode);
        // A refusal no initiator tag can equal, so the responder ends at once with the same verdict.
        return QByteArray(FinishBytes, '\0');
    }
    currentState = State::Done;
    return keyBytes(initiatorTag);
}

void SecureHandshake::confirmTags(const QByteArray& transcript)
{
    QByteArray hash(crypto_hash_sha512_BYTES, '\0');
    crypto_hash_sha512(reinterpret_cast<unsigned char*>(hash.data()),
        reinterpret_cast<const unsigned char*>(transcript.constData()),
        static_cast<unsigned long long>(transcript.size()));
    const auto& isk = cpace->isk();
    SessionKeys::Key initiatorKey = SessionKeys::derive(isk.data(), isk.size(), "movanta confirm key initiator", {});
    SessionKeys::Key responderKey = SessionKeys::derive(isk.data(), isk.size(), "movanta confirm key responder", {});
    initiatorTag = SessionKeys::derive(initiatorKey.data(), initiatorKey.size(), "movanta confirm initiator", hash);
    responderTag = SessionKeys::derive(responderKey.data(), responderKey.size(), "movanta confirm responder", hash);
    sessionKeys = SessionKeys::split(isk.data(), isk.size(), hash, side == Role::Initiator);
    sodium_memzero(initiatorKey.data(), initiatorKey.size());
    sodium_memzero(responderKey.data(), responderKey.size());
}

QByteArray SecureHandshake::fail(Failure why)
{
    currentState = State::Failed;
    currentFailure = why;
    sessionKeys = SessionKeys();
    return {};
}

QByteArray SecureHandshake::takeExcess()
{
    if (currentState != State::Done) {
        return {};
    }
    QByteArray out = pending;
    pending.clear();
    return out;
}
