#include "net/secure/sessionkeys.h"

#include <cstring>

#include <sodium.h>

SessionKeys::~SessionKeys()
{
    sodium_memzero(send.data(), send.size());
    sodium_memzero(receive.data(), receive.size());
    sodium_memzero(resume.data(), resume.size());
}

SessionKeys::Key SessionKeys::derive(
    const unsigned char* secret, std::size_t secretBytes, const char* label, const QByteArray& context)
{
    crypto_auth_hmacsha512_state state;
    crypto_auth_hmacsha512_init(&state, secret, secretBytes);
    // The zero byte ends the label, so no label and context can pass for another pair.
    crypto_auth_hmacsha512_update(&state, reinterpret_cast<const unsigned char*>(label), std::strlen(label) + 1);
    crypto_auth_hmacsha512_update(&state, reinterpret_cast<const unsigned char*>(context.constData()),
        static_cast<unsigned long long>(context.size()));
    unsigned char full[crypto_auth_hmacsha512_BYTES];
    crypto_auth_hmacsha512_final(&state, full);
    Key out;
    std::memcpy(out.data(), full, out.size());
    sodium_memzero(full, sizeof(full));
    sodium_memzero(&state, sizeof(state));
    return out;
}

SessionKeys SessionKeys::split(
    const unsigned char* secret, std::size_t secretBytes, const QByteArray& context, bool initiator)
{
    SessionKeys k;
    Key toResponder = derive(secret, secretBytes, "movanta stream initiator to responder", context);
    Key toInitiator = derive(secret, secretBytes, "movanta stream responder to initiator", context);
    k.send = initiator ? toResponder : toInitiator;
    k.receive = initiator ? toInitiator : toResponder;
    k.resume = derive(secret, secretBytes, "movanta resume secret", context);
    sodium_memzero(toResponder.data(), toResponder.size());
    sodium_memzero(toInitiator.data(), toInitiator.size());
    return k;
}

bool SessionKeys::sameTag(const Key& expected, const char* received)
{
    return crypto_verify_32(expected.data(), reinterpret_cast<const unsigned char*>(received)) == 0;
}
