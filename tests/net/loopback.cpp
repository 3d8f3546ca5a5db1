#include "loopback.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <utility>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace NetTest {

Fd::Fd(int descriptor) : fd(descriptor) { }

Fd::~Fd()
{
    reset();
}

Fd::Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) { }

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        reset(std::exchange(other.fd, -1));
    }
    return *this;
}

void Fd::reset(int value)
{
    if (fd >= 0) {
        ::close(fd);
    }
    fd = value;
}

int Fd::release()
{
    return std::exchange(fd, -1);
}

Fd listenOnLoopback(sockaddr_in& address)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    address = sockaddr_in {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(address);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd.get(), 5) != 0
        || ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &len) != 0) {
        return Fd();
    }
    return fd;
}

bool connectRaw(TCP::Client& outgoing, Fd& peer)
{
    sockaddr_in address {};
    Fd listener = listenOnLoopback(address);
    if (listener.get() < 0) {
        return false;
    }
    outgoing = TCP::Client(address);
    if (!outgoing.Connect()) {
        return false;
    }
    peer.reset(::accept(listener.get(), nullptr, nullptr));
    return peer.get() >= 0;
}

bool connectPair(TCP::Client& outgoing, TCP::Client& accepted)
{
    Fd peer;
    if (!connectRaw(outgoing, peer)) {
        return false;
    }
    // The client record owns the descriptor from here on.
    accepted = TCP::Client::accepted(peer.release());
    return true;
}

std::string readRaw(int fd, std::size_t n, int timeoutMs)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char chunk[65536];
    while (out.size() < n) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        if (left <= 0) {
            break;
        }
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        const std::size_t want = std::min(sizeof(chunk), n - out.size());
        const ssize_t r = ::recv(fd, chunk, want, 0);
        if (r <= 0) {
            break;
        }
        out.append(chunk, static_cast<std::size_t>(r));
    }
    return out;
}

bool writeRaw(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t r = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(r);
    }
    return true;
}

std::string pattern(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 7 + seed) & 0xff);
    }
    return s;
}

} // namespace NetTest
