#include "cutproxy.h"

#include <algorithm>
#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

class Fd
{
public:
    explicit Fd(int descriptor) : fd(descriptor) { }
    ~Fd()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

bool writeAll(int fd, const char* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

} // namespace

CutProxy::CutProxy(uint16_t ownPort, uint16_t targetPort) : listenPort(ownPort), upstreamPort(targetPort) { }

CutProxy::~CutProxy()
{
    if (wakeWrite >= 0) {
        const char stop = 's';
        (void)!::write(wakeWrite, &stop, 1);
    }
    if (thread.joinable()) {
        thread.join();
    }
    for (int fd : {listener, wakeRead, wakeWrite}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool CutProxy::start()
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return false;
    }
    wakeRead = pipeEnds[0];
    wakeWrite = pipeEnds[1];
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    const sockaddr_in a = loopback(listenPort);
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0 || ::listen(listener, 8) != 0) {
        return false;
    }
    thread = std::thread(&CutProxy::serve, this);
    return true;
}

void CutProxy::arm(Direction direction, uint64_t afterBytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    armed = true;
    flip = false;
    cutDirection = direction;
    cutAfter = afterBytes;
    counts[0] = counts[1] = 0;
    didCut = false;
}

void CutProxy::armFlip(Direction direction, uint64_t offset)
{
    arm(direction, offset);
    std::lock_guard<std::mutex> lock(mutex);
    flip = true;
}

uint64_t CutProxy::forwarded(Direction direction) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return counts[direction == Direction::SenderToReceiver ? 0 : 1];
}

void CutProxy::serve()
{
    for (;;) {
        pollfd p[2] = {{wakeRead, POLLIN, 0}, {listener, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (p[0].revents) {
            return;
        }
        if (!(p[1].revents & POLLIN)) {
            continue;
        }
        Fd downstream(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        if (downstream.get() < 0) {
            continue;
        }
        Fd upstream(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in a = loopback(upstreamPort);
        if (::connect(upstream.get(), reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            counts[0] = counts[1] = 0;
        }
        relay(downstream.get(), upstream.get());
    }
}

void CutProxy::relay(int downstream, int upstream)
{
    char buffer[16384];
    for (;;) {
        pollfd p[3] = {{wakeRead, POLLIN, 0}, {downstream, POLLIN, 0}, {upstream, POLLIN, 0}};
        if (::poll(p, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (p[0].revents) {
            return;
        }
        for (int side = 0; side < 2; ++side) {
            if (!(p[1 + side].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            const int from = side == 0 ? downstream : upstream;
            const int to = side == 0 ? upstream : downstream;
            const Direction direction = side == 0 ? Direction::SenderToReceiver : Direction::ReceiverToSender;
            std::size_t want = sizeof(buffer);
            bool cutHere = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (armed && !flip && cutDirection == direction) {
                    want = static_cast<std::size_t>(std::min<uint64_t>(want, cutAfter - counts[side]));
                    cutHere = want == 0;
                }
            }
            if (cutHere) {
                std::lock_guard<std::mutex> lock(mutex);
                armed = false;
                didCut = true;
                return; // both ends close as the descriptors go
            }
            const ssize_t n = ::recv(from, buffer, want, 0);
            if (n <= 0) {
                return; // one side closed: close the other too
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                const uint64_t at = counts[side];
                if (armed && flip && cutDirection == direction && cutAfter >= at
                    && cutAfter < at + static_cast<uint64_t>(n)) {
                    buffer[cutAfter - at] ^= 0x10;
                    armed = false;
                    didCut = true;
                }
            }
            if (!writeAll(to, buffer, static_cast<std::size_t>(n))) {
                return;
            }
            bool reached = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                counts[side] += static_cast<uint64_t>(n);
                reached = armed && !flip && cutDirection == direction && counts[side] >= cutAfter;
                if (reached) {
                    armed = false;
                    didCut = true;
                }
            }
            if (reached) {
                return;
            }
        }
    }
}
