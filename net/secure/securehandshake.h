#pragma once

#include <memory>

#include <QByteArray>

#include "net/secure/sessionkeys.h"

class Cpace;

// Pairing on the six-digit code by CPace, with key confirmation both ways. No sockets: the owner hands over
// what arrived and sends what comes back. Three messages, the initiator (sender) first:
//   opening  initiator -> responder  prefix(8) version(1) sid(16) Ya(32)
//   reply    responder -> initiator  version(1) Yb(32) responder tag(32)
//   finish   initiator -> responder  initiator tag(32)
// The tags are MACs over both first messages under keys derived from ISK, so each side learns whether the
// other used the same code, and a party without it learns nothing beyond one guess per connection.
class SecureHandshake
{
public:
    enum class Role { Initiator, Responder };
    enum class State { Running, Done, Failed };
    enum class Failure {
        None,
        WrongCode, // the peer's confirmation does not match: it used another code (or is not who it says)
        Malformed, // bytes that are no handshake message, or a share that is no valid point
        Unsupported, // a version this program does not speak
        Unavailable, // libsodium could not be loaded
    };
    // What the first bytes of a connection open.
    enum class Opening {
        Incomplete, // too few bytes to tell (all of them agree with a secure prefix so far)
        Pairing, // this handshake
        Resume, // a reconnect proving the resume secret
        Plain, // anything else, a plain pairing code among it
    };

    static constexpr int PrefixBytes = 8;
    static constexpr int SidBytes = 16;
    static constexpr int OpeningBytes = PrefixBytes + 1 + SidBytes + 32;
    static constexpr int ReplyBytes = 1 + 32 + SessionKeys::KeyBytes;
    static constexpr int FinishBytes = SessionKeys::KeyBytes;
    static constexpr unsigned char Version = 1;

    // Its first byte is no ASCII digit, so no opening can be taken for a six-digit code.
    static QByteArray prefix(Opening kind);
    static Opening classify(const QByteArray& firstBytes);

    SecureHandshake(Role role, const QByteArray& code);
    ~SecureHandshake();
    SecureHandshake(const SecureHandshake&) = delete;
    SecureHandshake& operator=(const SecureHandshake&) = delete;

    // The initiator's opening; empty for the responder (which waits for it) and after the first call.
    QByteArray start();

    // Takes bytes from the peer and returns the bytes to send back (often none). Bytes past the last
    // handshake message stay for takeExcess(): they already belong to the channel.
    QByteArray feed(const QByteArray& bytes);

    State state() const { return currentState; }
    Failure failure() const { return currentFailure; }
    // True once the peer has had its one guess at the code: the responder has answered an opening. A connection
    // that ends after that without Done counts as a wrong code.
    bool guessTaken() const { return answered; }
    // Valid when Done.
    const SessionKeys& keys() const { return sessionKeys; }
    QByteArray takeExcess();

private:
    QByteArray feedResponder();
    QByteArray feedInitiator();
    QByteArray fail(Failure why);
    // Keys and both confirmation tags from ISK and the transcript of opening and reply.
    void confirmTags(const QByteArray& transcript);

    Role side;
    QByteArray codeBytes;
    std::unique_ptr<Cpace> cpace;
    QByteArray pending;
    QByteArray opening;
    SessionKeys sessionKeys;
    SessionKeys::Key initiatorTag {};
    SessionKeys::Key responderTag {};
    State currentState = State::Running;
    Failure currentFailure = Failure::None;
    bool started = false;
    bool answered = false;
};
