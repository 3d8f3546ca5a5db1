#pragma once

#include <atomic>
#include <cstdint>

#include <netinet/in.h>
#include <sys/socket.h>

#include "net/tcpclient.h"

namespace UDP {

// A datagram endpoint: the target that sendto uses, the source of the latest datagram and a small buffer.
// The record owns its descriptor (closed on destruction); the discovery loops run while `state` is
// Connected, and the owner stops them by changing it.
struct Client
{
    int socket = -1;
    sockaddr_in address {};
    sockaddr_in peer {};
    socklen_t peerLength = sizeof(sockaddr_in);
    std::atomic<TCP::ConnectionStates> state {TCP::NotConnected};
    char buffer[1025] {};
    int32_t length = 0;

    // No socket yet.
    Client();
    // A new datagram socket with `address` resolved from "host" or "host:port" (0.0.0.0:0 when the name
    // cannot be resolved); state NotConnected.
    Client(const char* host, uint16_t port);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Closes the descriptor and sets Closed.
    void Close();
};

} // namespace UDP
