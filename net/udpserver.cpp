#include "net/udpserver.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include "net/socket.h"

namespace UDP {

Server::Server(const char* host, uint16_t port)
{
    client.socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    socket = client.socket;
    resolved = Socket::resolveAddress(host, port, address);
    client.state = TCP::Connected;
}

bool Server::Bind()
{
    if (!resolved) {
        return false;
    }
    if (client.socket < 0) {
        client.socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        isBound = false;
    }
    socket = client.socket;
    if (isBound) {
        return true;
    }
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &Socket::OptVal, sizeof(Socket::OptVal));
    ::ioctl(socket, FIONBIO, &Socket::OptVal);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return false;
    }
    isBound = true;
    stopped = 0;
    return true;
}

bool Server::bound() const
{
    return isBound && client.socket >= 0;
}

} // namespace UDP
