#include "net/discoverylistener.h"

#include <cerrno>
#include <ctime>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/announcement.h"
#include "net/socket.h"

DiscoveryListener::DiscoveryListener(UDP::Server& socket, HostTable& table, bool& changed)
    : server(socket), hosts(table), hostsChanged(changed), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{ }

DiscoveryListener::~DiscoveryListener()
{
    stop();
    if (wake >= 0) {
        ::close(wake);
    }
}

bool DiscoveryListener::start()
{
    stop();
    if (!server.Bind()) {
        return false;
    }
    // Set here rather than on the thread, so a stop() right after start() cannot be undone by it.
    server.client.state = TCP::Connected;
    uint64_t pending = 0;
    if (wake >= 0 && ::read(wake, &pending, sizeof(pending)) < 0) {
        pending = 0; // nothing was left from the last stop
    }
    thread = std::thread([this] { onConn(server.client, hosts, hostsChanged, wake); });
    return true;
}

void DiscoveryListener::stop()
{
    TCP::ConnectionStates expected = TCP::Connected;
    server.client.state.compare_exchange_strong(expected, TCP::NotConnected);
    if (thread.joinable()) {
        const uint64_t one = 1;
        if (wake >= 0 && ::write(wake, &one, sizeof(one)) < 0) {
            // Cannot happen short of 2^64 stops; the thread then notices within one wait.
        }
        thread.join();
    }
}

bool DiscoveryListener::running() const
{
    return thread.joinable() && server.client.state == TCP::Connected;
}

void onConn(UDP::Client& c, HostTable& hosts, bool& hostsChanged, int wakeFd)
{
    while (c.state == TCP::Connected) {
        long n = -1;
        pollfd watched[2] = {{c.socket, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(watched, wakeFd >= 0 ? 2 : 1, ListenerWaitMs);
        if (ready > 0 && watched[1].revents != 0 && c.state != TCP::Connected) {
            break;
        }
        if (ready > 0 && watched[0].revents != 0) {
            c.peerLength = sizeof(c.peer);
            const ssize_t r = ::recvfrom(
                c.socket, c.buffer, Announcement::Size, 0, reinterpret_cast<sockaddr*>(&c.peer), &c.peerLength);
            if (r >= 0) {
                // An empty datagram is only a short one: a stranger must not be able to end discovery.
                n = r;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                c.Close();
            }
        }
        c.length = n > 0 ? static_cast<int32_t>(n) : 0;
        c.buffer[c.length] = '\0';
        takeDatagram(hosts, hostsChanged, c.buffer, n, c.peer, static_cast<int64_t>(std::time(nullptr)));
    }
}
