#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <QByteArray>

#include <sodium.h>

#include "net/secure/sessionkeys.h"

// The migration's messages after a secure pairing, one frame each, in libsodium's secretstream
// (XChaCha20-Poly1305). Each direction is its own stream under its own key and starts with the stream's
// 24-byte header; then every frame is
//   length(4, little-endian: ciphertext bytes)  ciphertext(message + 17)
// with the length bound in as associated data. The stream's inner counter makes a replayed, reordered or
// dropped frame fail like a tampered one; a final frame marks the clean end, so a cut is told from an end.
// No sockets: seal() gives the bytes to send, feed() and next() take what arrived in any pieces.
class SecureChannel
{
public:
    static constexpr int HeaderBytes = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
    static constexpr int LengthBytes = 4;
    static constexpr int OverheadBytes = crypto_secretstream_xchacha20poly1305_ABYTES;
    // Larger than any message of a migration; a longer length is refused before anything is buffered.
    static constexpr std::uint32_t MaxMessageBytes = 16u << 20;

    enum class Read {
        Message, // `message` holds the next one
        NeedMore, // no complete frame yet
        Ended, // the peer's final frame came: a clean end
        Broken, // tampered, replayed, reordered, cut or oversized: the connection is lost
    };

    explicit SecureChannel(const SessionKeys& keys);
    ~SecureChannel();
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    // Appends the frame for one message to `out` (and, the first time, the stream header). False for a
    // message above MaxMessageBytes or after sealEnd().
    bool seal(const char* data, std::size_t size, QByteArray& out);
    QByteArray seal(const QByteArray& message);
    // The final frame; nothing can be sealed after it.
    QByteArray sealEnd();

    void feed(const char* data, std::size_t size);
    void feed(const QByteArray& bytes);
    Read next(QByteArray& message);
    // The transport closed (call it once next() has given everything): Ended only when the final frame came
    // and nothing followed it; else Broken, a cut.
    Read closed();

private:
    Read breakDown();
    void startSending(QByteArray& out);

    SessionKeys::Key sendKey {};
    SessionKeys::Key receiveKey {};
    crypto_secretstream_xchacha20poly1305_state pushState {};
    crypto_secretstream_xchacha20poly1305_state pullState {};
    bool sending = false;
    bool sendEnded = false;
    bool receiving = false;
    bool receiveEnded = false;
    bool broken = false;
    std::vector<char> input;
    std::size_t consumed = 0;
};
