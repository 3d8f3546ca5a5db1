#include "net/socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace Socket {

const uint64_t OptVal = 1;

bool resolveAddress(const char* text, uint16_t defaultPort, sockaddr_in& out)
{
    out = sockaddr_in {};
    out.sin_family = AF_INET;
    if (!text) {
        return false;
    }
    std::string host(text);
    uint16_t port = defaultPort;
    const std::size_t colon = host.find(':');
    if (colon != std::string::npos) {
        // Read as the peers always have: decimal digits into 16 bits, no validation.
        port = 0;
        for (std::size_t i = colon + 1; i < host.size(); ++i) {
            port = static_cast<uint16_t>(port * 10 + (host[i] - '0'));
        }
        host.resize(colon);
    }

    addrinfo hints {};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) {
        return false;
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(result, ::freeaddrinfo);
    for (const addrinfo* p = result; p; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) {
            out.sin_addr = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr;
            out.sin_port = htons(port);
            return true;
        }
    }
    return false;
}

std::string addressText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
    return text;
}

namespace {

bool waitFor(int fd, short events, int timeoutMs)
{
    if (fd < 0) {
        return false;
    }
    pollfd p {fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

} // namespace

bool waitReadable(int fd, int timeoutMs)
{
    return waitFor(fd, POLLIN, timeoutMs);
}

bool waitWritable(int fd, int timeoutMs)
{
    return waitFor(fd, POLLOUT, timeoutMs);
}

void setNoDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

void fillKeyPad(char* pad, std::size_t length, const std::vector<char>& key)
{
    // Doubling copies keep every offset a multiple of the key length, so the pattern stays in phase.
    std::size_t filled = std::min(length, key.size());
    std::memcpy(pad, key.data(), filled);
    while (filled < length) {
        const std::size_t n = std::min(filled, length - filled);
        std::memcpy(pad + filled, pad, n);
        filled += n;
    }
}

void applyKey(char* data, std::size_t n, const std::vector<char>& key)
{
    const std::size_t k = key.size();
    if (k == 0 || n == 0) {
        return;
    }
    // XOR against a laid-out run of whole keys: no division per byte, and the loop vectorises. A header
    // is 4112 bytes on every file, so this is on the per-file path.
    constexpr std::size_t PadSize = 4096;
    const std::size_t block = PadSize / k * k;
    if (block == 0) {
        for (std::size_t i = 0; i < n; ++i) {
            data[i] ^= key[i % k];
        }
        return;
    }
    char pad[PadSize];
    fillKeyPad(pad, std::min(block, n), key);
    for (std::size_t at = 0; at < n; at += block) {
        const std::size_t length = std::min(block, n - at);
        char* run = data + at;
        for (std::size_t i = 0; i < length; ++i) {
            run[i] ^= pad[i];
        }
    }
}

} // namespace Socket
