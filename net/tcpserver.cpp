#include "net/tcpserver.h"

#include <cerrno>
#include <cstdio>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/socket.h"

namespace TCP {

namespace {

constexpr int ServicePauseMs = 1;
constexpr int Backlog = 5;

} // namespace

Server::Server(const char* host, uint16_t port, uint64_t capacity)
    : maxClients(capacity), socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    resolved = Socket::resolveAddress(host, port, address);
}

Server::~Server()
{
    Stop();
}

bool Server::Listen(ServerCallback callback, void* arg, bool inThisThread)
{
    if (inThisThread) {
        stopRequest = false;
        return serve(callback, arg);
    }
    stopRequest = true;
    stopped = 1;
    if (thread.joinable()) {
        thread.join();
    }
    // The port is open before this returns: a peer told "ready" at once must not be refused while the
    // service thread is still waiting to be scheduled.
    {
        std::lock_guard<std::mutex> running(loopMutex);
        if (!prepare()) {
            return false;
        }
    }
    stopRequest = false;
    thread = std::thread([this, callback, arg] { serve(callback, arg); });
    return true;
}

bool Server::prepare()
{
    if (!resolved) {
        return false;
    }
    if (socket < 0) {
        socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        listening = false;
    }
    if (listening) {
        return true;
    }
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &Socket::OptVal, sizeof(Socket::OptVal));
    ::ioctl(socket, FIONBIO, &Socket::OptVal);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        std::printf("%d, %d\n", socket, errno);
        std::fflush(stdout);
        return false;
    }
    if (::listen(socket, Backlog) != 0) {
        return false;
    }
    listening = true;
    return true;
}

bool Server::serve(ServerCallback callback, void* arg)
{
    std::lock_guard<std::mutex> running(loopMutex);
    if (!prepare()) {
        return false;
    }
    stopped = 0;
    std::vector<int> wake;
    // accept() on an empty queue still builds and frees a socket in the kernel: between two files that
    // cost more than the file itself, so it runs only when the last wait saw a connection coming.
    bool incoming = true;
    while (!stopRequest) {
        if (incoming) {
            acceptPending();
        }
        wake.clear();
        const bool buffered = serviceClients(callback, arg, wake);
        incoming = pause(wake, buffered);
    }
    stopped = 1;
    return true;
}

void Server::acceptPending()
{
    while (!stopRequest && clientCount() < maxClients) {
        const int fd = ::accept4(socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        auto client = std::make_unique<Client>(Client::accepted(fd));
        std::lock_guard<std::mutex> lock(clientsMutex);
        clients.push_back(std::move(client));
    }
}

// Wakes at once for a new connection or for bytes a client is waiting to have read (a sender's next file
// must not wait out the pause); otherwise comes back within a millisecond.
bool Server::pause(const std::vector<int>& wake, bool buffered)
{
    std::vector<pollfd> watched;
    watched.reserve(wake.size() + 1);
    watched.push_back({socket, POLLIN, 0});
    for (const int fd : wake) {
        watched.push_back({fd, POLLIN, 0});
    }
    int ready;
    // Opened bytes of a secured connection wait in memory, where no poll sees them: no pause then.
    const int pauseMs = buffered ? 0 : ServicePauseMs;
    while ((ready = ::poll(watched.data(), watched.size(), pauseMs)) < 0 && errno == EINTR) { }
    // A failed poll says nothing; accepting once more is the safe side.
    return ready < 0 || (watched[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

bool Server::serviceClients(ServerCallback callback, void* arg, std::vector<int>& wake)
{
    bool buffered = false;
    for (std::size_t i = 0;; ++i) {
        Client* client = nullptr;
        {
            std::lock_guard<std::mutex> lock(clientsMutex);
            if (i >= clients.size()) {
                return buffered;
            }
            client = clients[i].get();
        }
        // Checked after Stop() has shut the clients down, so no callback starts on a client it missed.
        if (stopRequest) {
            return buffered;
        }
        const bool readable = Socket::waitReadable(client->socket, 0);
        const uint64_t readBefore = client->bytesRead;
        callback(client, arg);
        if (client->state != Connected) {
            std::lock_guard<std::mutex> lock(clientsMutex);
            clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            return buffered;
        }
        buffered = buffered || client->HasBuffered();
        // Bytes the callback left where they were (a code waiting its turn, a peer's close it did not look
        // at) would end every pause at once; such a client keeps the loop's plain pace.
        if (!readable || client->bytesRead != readBefore) {
            wake.push_back(client->socket);
        }
    }
}

void Server::Stop()
{
    stopRequest = true;
    stopped = 1;
    {
        // Wakes a callback blocked in a read or write; the clients are freed only after the join.
        std::lock_guard<std::mutex> lock(clientsMutex);
        for (auto& client : clients) {
            client->Shutdown();
        }
    }
    if (thread.joinable()) {
        thread.join();
    }
    {
        // A loop that a caller runs on its own thread (Listen with inThisThread) ends within a pause.
        std::lock_guard<std::mutex> idle(loopMutex);
        if (socket >= 0) {
            ::close(socket);
            socket = -1;
            listening = false;
        }
    }
    std::vector<std::unique_ptr<Client>> closing;
    {
        std::lock_guard<std::mutex> lock(clientsMutex);
        closing.swap(clients);
    }
    for (auto& client : closing) {
        client->Close();
    }
}

std::size_t Server::clientCount() const
{
    std::lock_guard<std::mutex> lock(clientsMutex);
    return clients.size();
}

} // namespace TCP
