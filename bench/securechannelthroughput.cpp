// Throughput of the encrypted channel on this machine: one thread seals 64 KiB messages and opens them again,
// as sender and receiver would on their own cores. Prints MB/s for sealing alone, opening alone and both.
//   movanta_bench_securechannel [total MiB, default 1024]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sodium.h>

#include "net/secure/securechannel.h"

namespace {

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (sodium_init() < 0) {
        std::fprintf(stderr, "libsodium does not load\n");
        return 1;
    }
    const long totalMiB = argc > 1 ? std::atol(argv[1]) : 1024;
    constexpr int frame = 64 * 1024;
    const long frames = totalMiB * 16;
    SessionKeys a;
    SessionKeys b;
    randombytes_buf(a.send.data(), a.send.size());
    randombytes_buf(a.receive.data(), a.receive.size());
    b.send = a.receive;
    b.receive = a.send;
    SecureChannel sender(a);
    SecureChannel receiver(b);

    QByteArray message(frame, '\0');
    randombytes_buf(message.data(), static_cast<size_t>(message.size()));
    QByteArray wire;
    // Reserved, so emptying it each round keeps its buffer, as a sender's send buffer would.
    wire.reserve(frame + 64);
    QByteArray opened;
    std::chrono::steady_clock::duration sealing {};
    std::chrono::steady_clock::duration opening {};
    long received = 0;
    for (long i = 0; i < frames; ++i) {
        wire.resize(0);
        const auto t0 = std::chrono::steady_clock::now();
        sender.seal(message.constData(), static_cast<std::size_t>(message.size()), wire);
        const auto t1 = std::chrono::steady_clock::now();
        receiver.feed(wire);
        while (receiver.next(opened) == SecureChannel::Read::Message) {
            ++received;
        }
        const auto t2 = std::chrono::steady_clock::now();
        sealing += t1 - t0;
        opening += t2 - t1;
    }
    if (received != frames || opened != message) {
        std::fprintf(stderr, "the channel lost messages: %ld of %ld\n", received, frames);
        return 1;
    }
    // The primitive alone on the same buffers: the ceiling the framing is measured against.
    std::vector<unsigned char> cipher(frame + crypto_secretstream_xchacha20poly1305_ABYTES);
    std::vector<unsigned char> plain(frame);
    unsigned char header[crypto_secretstream_xchacha20poly1305_HEADERBYTES];
    crypto_secretstream_xchacha20poly1305_state push;
    crypto_secretstream_xchacha20poly1305_state pull;
    crypto_secretstream_xchacha20poly1305_init_push(&push, header, a.send.data());
    if (crypto_secretstream_xchacha20poly1305_init_pull(&pull, header, a.send.data()) != 0) {
        return 1;
    }
    const auto r0 = std::chrono::steady_clock::now();
    for (long i = 0; i < frames; ++i) {
        crypto_secretstream_xchacha20poly1305_push(&push, cipher.data(), nullptr,
            reinterpret_cast<const unsigned char*>(message.constData()), frame, nullptr, 0, 0);
        if (crypto_secretstream_xchacha20poly1305_pull(
                &pull, plain.data(), nullptr, nullptr, cipher.data(), cipher.size(), nullptr, 0)
            != 0) {
            return 1;
        }
    }
    const auto raw = std::chrono::steady_clock::now() - r0;

    const double mb = double(frames) * frame / 1e6;
    std::printf("secure channel, %ld messages of 64 KiB (%.0f MB)\n", frames, mb);
    std::printf("  seal          %8.0f MB/s\n", mb / seconds(sealing));
    std::printf("  open          %8.0f MB/s\n", mb / seconds(opening));
    std::printf("  seal + open   %8.0f MB/s\n", mb / seconds(sealing + opening));
    std::printf("  libsodium push + pull alone   %8.0f MB/s\n", mb / seconds(raw));
    return 0;
}
