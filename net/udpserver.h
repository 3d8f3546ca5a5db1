#pragma once

#include <atomic>
#include <cstdint>

#include <netinet/in.h>

#include "net/udpclient.h"

namespace UDP {

// A datagram socket bound for listening; `client` is the record the listener loop reads into, on the same
// socket (it owns the descriptor).
class Server
{
public:
    // A new datagram socket and the resolved bind address; not bound yet. `client` is Connected.
    Server(const char* host, uint16_t port);
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // SO_REUSEADDR, non-blocking, bind; `stopped` = 0 once bound. A socket that is bound already stays as it
    // is (it stays bound between loads); one closed after an error is made anew first. False when the
    // address cannot be bound or its name could not be resolved.
    bool Bind();
    bool bound() const;

    int socket = -1;
    sockaddr_in address {};
    Client client;
    std::atomic<int32_t> stopped {1};

private:
    bool isBound = false;
    bool resolved = false;
};

} // namespace UDP
