#include "net/udpclient.h"

#include <unistd.h>

#include "net/socket.h"

namespace UDP {

Client::Client() = default;

Client::Client(const char* host, uint16_t port) : socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    Socket::resolveAddress(host, port, address);
}

Client::~Client()
{
    Close();
}

void Client::Close()
{
    if (socket >= 0) {
        ::close(socket);
        socket = -1;
    }
    state = TCP::Closed;
}

} // namespace UDP
