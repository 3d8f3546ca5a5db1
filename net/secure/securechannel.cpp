#include "net/secure/securechannel.h"

#include "net/byteorder.h"
#include "net/secure/cpace.h"

namespace {

unsigned char* ubytes(char* p)
{
    return reinterpret_cast<unsigned char*>(p);
}

const unsigned char* ubytes(const char* p)
{
    return reinterpret_cast<const unsigned char*>(p);
}

} // namespace

SecureChannel::SecureChannel(const SessionKeys& keys) : sendKey(keys.send), receiveKey(keys.receive)
{
    if (!Cpace::initialize()) {
        broken = true;
        sendEnded = true;
    }
}

SecureChannel::~SecureChannel()
{
    sodium_memzero(sendKey.data(), sendKey.size());
    sodium_memzero(receiveKey.data(), receiveKey.size());
    sodium_memzero(&pushState, sizeof(pushState));
    sodium_memzero(&pullState, sizeof(pullState));
}

void SecureChannel::startSending(QByteArray& out)
{
    const int at = out.size();
    out.resize(at + HeaderBytes);
    crypto_secretstream_xchacha20poly1305_init_push(&pushState, ubytes(out.data() + at), sendKey.data());
    sending = true;
}

bool SecureChannel::seal(const char* data, std::size_t size, QByteArray& out)
{
    if (sendEnded || size > MaxMessageBytes) {
        return false;
    }
    if (!sending) {
        startSending(out);
    }
    const int at = out.size();
    const auto cipherBytes = static_cast<std::uint32_t>(size + OverheadBytes);
    out.resize(at + LengthBytes + static_cast<int>(cipherBytes));
    char* frame = out.data() + at;
    ByteOrder::putU32(frame, cipherBytes);
    crypto_secretstream_xchacha20poly1305_push(&pushState, ubytes(frame + LengthBytes), nullptr, ubytes(data), size,
        ubytes(frame), LengthBytes, crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
    return true;
}

QByteArray SecureChannel::seal(const QByteArray& message)
{
    QByteArray out;
    if (!seal(message.constData(), static_cast<std::size_t>(message.size()), out)) {
        return {};
    }
    return out;
}

QByteArray SecureChannel::sealEnd()
{
    QByteArray out;
    if (sendEnded) {
        return out;
    }
    if (!sending) {
        startSending(out);
    }
    const int at = out.size();
    out.resize(at + LengthBytes + OverheadBytes);
    char* frame = out.data() + at;
    ByteOrder::putU32(frame, OverheadBytes);
    crypto_secretstream_xchacha20poly1305_push(&pushState, ubytes(frame + LengthBytes), nullptr, nullptr, 0,
        ubytes(frame), LengthBytes, crypto_secretstream_xchacha20poly1305_TAG_FINAL);
    sendEnded = true;
    return out;
}

void SecureChannel::feed(const char* data, std::size_t size)
{
    if (broken) {
        return;
    }
    // Drop what was read before growing, so a long transfer keeps one frame's worth of buffer.
    if (consumed > 0 && consumed >= input.size() / 2) {
        input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(consumed));
        consumed = 0;
    }
    input.insert(input.end(), data, data + size);
}

void SecureChannel::feed(const QByteArray& bytes)
{
    feed(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

SecureChannel::Read SecureChannel::breakDown()
{
    broken = true;
    input.clear();
    consumed = 0;
    return Read::Broken;
}

SecureChannel::Read SecureChannel::next(QByteArray& message)
{
    if (broken) {
        return Read::Broken;
    }
    const std::size_t available = input.size() - consumed;
    if (receiveEnded) {
        // Nothing may follow the final frame.
        return available > 0 ? breakDown() : Read::Ended;
    }
    const char* at = input.data() + consumed;
    if (!receiving) {
        if (available < std::size_t(HeaderBytes)) {
            return Read::NeedMore;
        }
        if (crypto_secretstream_xchacha20poly1305_init_pull(&pullState, ubytes(at), receiveKey.data()) != 0) {
            return breakDown();
        }
        receiving = true;
        consumed += HeaderBytes;
        return next(message);
    }
    if (available < std::size_t(LengthBytes)) {
        return Read::NeedMore;
    }
    const std::uint32_t cipherBytes = ByteOrder::getU32(at);
    if (cipherBytes < static_cast<std::uint32_t>(OverheadBytes) || cipherBytes > MaxMessageBytes + OverheadBytes) {
        return breakDown();
    }
    if (available < LengthBytes + std::size_t(cipherBytes)) {
        return Read::NeedMore;
    }
    message.resize(static_cast<int>(cipherBytes) - OverheadBytes);
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&pullState, ubytes(message.data()), nullptr, &tag,
            ubytes(at + LengthBytes), cipherBytes, ubytes(at), LengthBytes)
        != 0) {
        message.clear();
        return breakDown();
    }
    consumed += LengthBytes + std::size_t(cipherBytes);
    if (tag == crypto_secretstream_xchacha20poly1305_TAG_MESSAGE) {
        return Read::Message;
    }
    message.clear();
    if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
        receiveEnded = true;
        return next(message);
    }
    // This program never sends the other tags.
    return breakDown();
}

SecureChannel::Read SecureChannel::closed()
{
    if (!broken && receiveEnded && input.size() == consumed) {
        return Read::Ended;
    }
    return breakDown();
}
