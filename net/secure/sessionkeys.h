#pragma once

#include <array>
#include <cstddef>

#include <QByteArray>

// The keys one secured connection ends with, seen from one side: the key it encrypts with, the key it decrypts
// with, and the resume secret both sides keep for a later reconnect. Wiped when the object goes.
struct SessionKeys
{
    static constexpr int KeyBytes = 32;
    using Key = std::array<unsigned char, KeyBytes>;

    Key send {};
    Key receive {};
    Key resume {};

    SessionKeys() = default;
    SessionKeys(const SessionKeys&) = default;
    SessionKeys& operator=(const SessionKeys&) = default;
    ~SessionKeys();

    // HMAC-SHA-512 under `secret` of label, a zero byte and context, cut to 32 bytes: every key, tag and proof
    // of the handshakes comes from here, each under its own label.
    static Key derive(
        const unsigned char* secret, std::size_t secretBytes, const char* label, const QByteArray& context);

    // Both directions' keys and the resume secret for one connection. What the initiator sends with, the
    // responder receives with.
    static SessionKeys split(
        const unsigned char* secret, std::size_t secretBytes, const QByteArray& context, bool initiator);

    // Constant-time comparison of a received tag with the expected one.
    static bool sameTag(const Key& expected, const char* received);
};
