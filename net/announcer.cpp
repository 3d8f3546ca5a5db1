#include "net/announcer.h"

#include <atomic>
#include <cerrno>
#include <chrono>

#include <sys/socket.h>
#include <unistd.h>

#include "net/capabilitymark.h"
#include "net/distro.h"
#include "net/socket.h"
#include "net/wire.h"

namespace {

constexpr auto AnnouncePeriod = std::chrono::seconds(3);

std::atomic<uint32_t> withheldCapabilities {0};

} // namespace

Announcement localAnnouncement()
{
    Announcement a;
    char host[256] = {};
    if (::gethostname(host, sizeof(host) - 1) == 0) {
        a.hostName = host;
    }
    a.distro = getdistroname();
    a.capabilities = CapabilityMark::Entries | CapabilityMark::Secure;
    return a;
}

Announcer::Announcer() = default;

Announcer::~Announcer()
{
    stop();
}

void withholdCapabilities(uint32_t bits)
{
    withheldCapabilities = bits;
}

void Announcer::start(const char* target)
{
    Announcement content = localAnnouncement();
    content.capabilities &= ~withheldCapabilities.load();
    start(content, target);
}

void Announcer::start(const Announcement& content, const char* target, const char* source)
{
    stop();
    announcer.Close();
    announcer.socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    Socket::resolveAddress(target, Wire::UdpPort, announcer.address);
    announcer.state = TCP::NotConnected;
    const int on = 1;
    ::setsockopt(announcer.socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    if (source) {
        sockaddr_in from {};
        Socket::resolveAddress(source, 0, from);
        ::bind(announcer.socket, reinterpret_cast<const sockaddr*>(&from), sizeof(from));
    }
    content.encode(datagram);
    {
        std::lock_guard<std::mutex> lock(waitMutex);
        stopRequested = false;
    }
    announcer.state = TCP::Connected;
    thread = std::thread([this] { run(); });
}

void Announcer::stop()
{
    {
        std::lock_guard<std::mutex> lock(waitMutex);
        stopRequested = true;
    }
    wake.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
    // Closed only once the thread can no longer send on it.
    announcer.Close();
}

bool Announcer::running() const
{
    return thread.joinable() && announcer.state == TCP::Connected;
}

void Announcer::run()
{
    std::unique_lock<std::mutex> lock(waitMutex);
    while (!stopRequested && announcer.state == TCP::Connected) {
        const ssize_t r = ::sendto(announcer.socket, datagram, sizeof(datagram), 0,
            reinterpret_cast<const sockaddr*>(&announcer.address), sizeof(announcer.address));
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // Nothing to show; the receiver simply stops being heard. The socket closes in stop().
            announcer.state = TCP::Closed;
            break;
        }
        wake.wait_for(lock, AnnouncePeriod, [this] { return stopRequested; });
    }
}
