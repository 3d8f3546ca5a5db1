#include "connect/sender/connectionwatch.h"

#include <cerrno>

#include <sys/socket.h>

#include "net/tcpclient.h"

bool connectionLost(const TCP::Client& client)
{
    if (client.state != TCP::Connected || client.socket < 0) {
        return true;
    }
    char byte = 0;
    const ssize_t r = ::recv(client.socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r == 0) {
        return true;
    }
    return r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}
