#pragma once

#include <optional>

#include <QByteArray>

#include "net/secure/sessionkeys.h"

// A reconnect within the re-pair window proves knowledge of the resume secret from the earlier pairing,
// instead of relying on the peer's address. No sockets, like SecureHandshake. Three messages, the initiator
// (the side that reconnects) first:
//   opening  initiator -> responder  prefix(8) version(1) secret id(16) initiator nonce(32)
//   reply    responder -> initiator  1, responder nonce(32), responder proof(32)   or just 0: no such secret
//   finish   initiator -> responder  initiator proof(32)
// Both nonces are fresh, so no recorded exchange can be played again; each side gets one try per connection.
// The connection's keys come from the secret and both nonces: new keys for every reconnect.
class ResumeHandshake
{
public:
    enum class Role { Initiator, Responder };
    enum class State { Running, Done, Failed };
    enum class Failure {
        None,
        UnknownSecret, // the responder holds no such secret (restarted, or the window closed): ask the code again
        WrongProof, // the peer's proof does not match: it does not know the secret
        Malformed,
        Unsupported,
        Unavailable,
    };

    static constexpr int IdBytes = 16;
    static constexpr int NonceBytes = 32;
    static constexpr int OpeningBytes = 8 + 1 + IdBytes + NonceBytes;
    static constexpr int ReplyBytes = 1 + NonceBytes + SessionKeys::KeyBytes;
    static constexpr int FinishBytes = SessionKeys::KeyBytes;

    // The initiator must hold a secret; a responder without one answers "no such secret".
    ResumeHandshake(Role role, const std::optional<SessionKeys::Key>& secret);
    ~ResumeHandshake();
    ResumeHandshake(const ResumeHandshake&) = delete;
    ResumeHandshake& operator=(const ResumeHandshake&) = delete;

    QByteArray start();
    QByteArray feed(const QByteArray& bytes);
    State state() const { return currentState; }
    Failure failure() const { return currentFailure; }
    // Valid when Done; `resume` is the same secret again, for the next reconnect in the window.
    const SessionKeys& keys() const { return sessionKeys; }
    QByteArray takeExcess();

private:
    QByteArray feedResponder();
    QByteArray feedInitiator();
    QByteArray fail(Failure why);
    QByteArray secretId() const;
    void proofs(const QByteArray& transcript);

    Role side;
    SessionKeys::Key secret {};
    bool hasSecret = false;
    QByteArray pending;
    QByteArray opening;
    SessionKeys sessionKeys;
    SessionKeys::Key initiatorProof {};
    SessionKeys::Key responderProof {};
    State currentState = State::Running;
    Failure currentFailure = Failure::None;
    bool started = false;
    bool answered = false;
};
