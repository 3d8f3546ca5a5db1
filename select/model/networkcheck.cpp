#include "select/model/networkcheck.h"

#include <cerrno>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/socket.h"

namespace {

class SocketHandle
{
public:
    SocketHandle() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)) { }
    ~SocketHandle()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;

    const int fd;
};

} // namespace

bool canReachHost(const std::string& hostText, uint16_t defaultPort, int timeoutMs)
{
    sockaddr_in address {};
    if (!Socket::resolveAddress(hostText.c_str(), defaultPort, address)) {
        return false;
    }
    SocketHandle socket;
    if (socket.fd < 0) {
        return false;
    }
    // Without a bound a lost route would hold the window for minutes of connect retries.
    const int flags = ::fcntl(socket.fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(socket.fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        return false;
    }
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        return false;
    }
    pollfd watch {socket.fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&watch, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    return ::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}
