#include "connectionflood.h"

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint16_t MigrationPort = 4399;
constexpr std::chrono::milliseconds OpenSpacing(5);

struct Slot
{
    int fd = -1;
    bool connected = false;
    std::string reply;
};

int openConnection(const std::string& target, const std::string& source)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    if (!source.empty()) {
        sockaddr_in from {};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(MigrationPort);
    ::inet_pton(AF_INET, target.c_str(), &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

ConnectionFlood::ConnectionFlood(std::string to, std::string from, int places, Kind what, std::string code)
    : target(std::move(to)), source(std::move(from)), count(places), kind(what), wrongCode(std::move(code))
{ }

ConnectionFlood::~ConnectionFlood()
{
    stop();
}

void ConnectionFlood::start()
{
    stopping = false;
    if (!thread.joinable()) {
        thread = std::thread([this] { run(); });
    }
}

void ConnectionFlood::stop()
{
    stopping = true;
    if (thread.joinable()) {
        thread.join();
    }
}

void ConnectionFlood::run()
{
    std::vector<Slot> slots(static_cast<std::size_t>(count));
    const auto drop = [this](Slot& slot) {
        if (slot.connected) {
            --open;
        }
        ::close(slot.fd);
        slot = Slot();
    };
    const auto speak = [this](Slot& slot) {
        if (kind == Kind::OneByte) {
            ::send(slot.fd, "1", 1, MSG_NOSIGNAL);
        } else if (kind == Kind::WrongCodes) {
            ::send(slot.fd, wrongCode.data(), wrongCode.size(), MSG_NOSIGNAL);
        }
    };
    std::vector<pollfd> watched;
    auto lastOpened = std::chrono::steady_clock::now() - OpenSpacing;
    while (!stopping) {
        watched.clear();
        for (Slot& slot : slots) {
            // A burst would overflow the receiver's accept queue: the kernel then finishes handshakes with
            // cookies that the receiver never sees while the peer stays silent.
            const auto now = std::chrono::steady_clock::now();
            if (slot.fd < 0 && now - lastOpened >= OpenSpacing) {
                slot.fd = openConnection(target, source);
                lastOpened = now;
            }
            watched.push_back({slot.fd, static_cast<short>(slot.connected ? POLLIN : POLLOUT), 0});
        }
        if (::poll(watched.data(), watched.size(), 5) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < slots.size(); ++i) {
            Slot& slot = slots[i];
            const short events = watched[i].revents;
            if (slot.fd < 0 || events == 0) {
                continue;
            }
            if (!slot.connected) {
                int error = 0;
                socklen_t length = sizeof(error);
                ::getsockopt(slot.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) {
                    drop(slot); // refused or unreachable: tried again on the next round
                    continue;
                }
                slot.connected = true;
                ++open;
                speak(slot);
                continue;
            }
            char bytes[64];
            const ssize_t n = ::recv(slot.fd, bytes, sizeof(bytes), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                ++closed;
                drop(slot);
                continue;
            }
            if (n > 0 && kind == Kind::WrongCodes) {
                slot.reply.append(bytes, static_cast<std::size_t>(n));
                while (slot.reply.size() >= 2) {
                    slot.reply.erase(0, 2);
                    ++answered;
                    speak(slot);
                }
            }
        }
    }
    for (Slot& slot : slots) {
        if (slot.fd >= 0) {
            drop(slot);
        }
    }
}
