#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "net/tcpclient.h"
#include "net/wire.h"

namespace TCP {

using ServerCallback = void (*)(Client*, void*);

// A listening socket, the clients it accepted and the service thread that accepts them and calls the
// callback for each connected client about once per millisecond (one step of work per call).
class Server
{
public:
    Server(const char* host, uint16_t port, uint64_t maxClients = Wire::ServerCapacity);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // inThisThread false: stops and joins a running service thread, binds and listens, then starts a new
    // service thread and returns; connections are accepted by the kernel from then on.
    // inThisThread true: runs the service loop on the caller's thread until stopped.
    // False when the port cannot be bound (then no thread runs).
    bool Listen(ServerCallback callback, void* arg, bool inThisThread);

    // stopped = 1, listening socket closed, every client closed and removed, service thread joined.
    // Safe to call more than once, and from the owner's thread while the service thread is inside a callback.
    void Stop();

    std::size_t clientCount() const;

    const uint64_t maxClients;
    int socket = -1;
    sockaddr_in address {};
    std::atomic<int32_t> stopped {1};

private:
    // Binds and listens once per listening socket (a restarted loop keeps serving on it); a socket closed
    // by Stop() is made anew. False when the port cannot be bound.
    bool prepare();
    bool serve(ServerCallback callback, void* arg);
    void acceptPending();
    // Serves every client once; `wake` gets the sockets whose next bytes should end the loop's pause.
    // True when a client holds opened bytes in memory (its socket may be quiet, yet it has work).
    bool serviceClients(ServerCallback callback, void* arg, std::vector<int>& wake);
    // Returns whether the listening socket has a connection waiting; `buffered`: do not wait at all.
    bool pause(const std::vector<int>& wake, bool buffered);

    // Asked to stop; unlike `stopped`, never cleared by a loop that starts late.
    std::atomic<bool> stopRequest {false};
    // Held by a running service loop, whichever thread runs it; Stop() takes it before closing the
    // listening socket the loop polls.
    std::mutex loopMutex;
    bool listening = false;
    // An unresolvable host leaves 0.0.0.0:0, which must not turn into "any address, any port".
    bool resolved = false;
    std::vector<std::unique_ptr<Client>> clients;
    mutable std::mutex clientsMutex;
    std::thread thread;
};

} // namespace TCP
