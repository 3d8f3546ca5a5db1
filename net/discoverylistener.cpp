#include "net/discoverylistener.h"

#include <cerrno>
#include <ctime>

#include <sys/socket.h>

#include "net/announcement.h"
#include "net/socket.h"

DiscoveryListener::DiscoveryListener(UDP::Server& socket, HostTable& table, bool& changed)
    : server(socket), hosts(table), hostsChanged(changed)
{ }

DiscoveryListener::~DiscoveryListener()
{
    stop();
}

bool DiscoveryListener::start()
{
    stop();
    if (!server.Bind()) {
        return false;
    }
    // Set here rather than on the thread, so a stop() right after start() cannot be undone by it.
    server.client.state = TCP::Connected;
    thread = std::thread([this] { onConn(server.client, hosts, hostsChanged); });
    return true;
}

void DiscoveryListener::stop()
{
    TCP::ConnectionStates expected = TCP::Connected;
    server.client.state.compare_exchange_strong(expected, TCP::NotConnected);
    if (thread.joinable()) {
        thread.join();
    }
}

bool DiscoveryListener::running() const
{
    return thread.joinable() && server.client.state == TCP::Connected;
}

void onConn(UDP::Client& c, HostTable& hosts, bool& hostsChanged)
{
    while (c.state == TCP::Connected) {
        long n = -1;
        if (Socket::waitReadable(c.socket, ListenerWaitMs)) {
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
