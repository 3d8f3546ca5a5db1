// An emulated network link between two network namespaces: a tap device in each, and every Ethernet frame
// that leaves one is handed to the other after a one-way delay, at an optional rate, in order.
//
//   movanta_linkemu --a NETNS_PATH:IFNAME --b NETNS_PATH:IFNAME --delay-us N [--rate-mbit R] [--limit FRAMES]
//                   [--no-offload]
//
// The devices live as long as the process; it prints "ready" once both exist, and on SIGTERM or SIGINT
// prints its counts (frames, drops, how late frames left against their due time, its own CPU time) to
// standard error and ends. The caller gives the devices their addresses.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "delayline.h"

namespace {

class Fd
{
public:
    explicit Fd(int value = -1) : fd(value) { }
    ~Fd()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(fd, other.fd);
        return *this;
    }
    int get() const { return fd; }

private:
    int fd;
};

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

std::int64_t nowNs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Creates the tap device inside the namespace at `nsPath` (empty: this process's own). The descriptor
// stays tied to that namespace's device after the process returns to its own namespace.
bool openTap(const std::string& nsPath, const std::string& name, bool offload, Fd& tap)
{
    Fd home(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    if (!nsPath.empty()) {
        Fd target(::open(nsPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (target.get() < 0 || ::setns(target.get(), CLONE_NEWNET) != 0) {
            std::fprintf(stderr, "cannot enter %s: %s\n", nsPath.c_str(), std::strerror(errno));
            return false;
        }
    }
    Fd device(::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC));
    ifreq request {};
    request.ifr_flags = IFF_TAP | IFF_NO_PI | (offload ? IFF_VNET_HDR : 0);
    std::snprintf(request.ifr_name, IFNAMSIZ, "%s", name.c_str());
    bool made = device.get() >= 0 && ::ioctl(device.get(), TUNSETIFF, &request) == 0;
    // With offloads the stacks hand over whole TCP segments of up to 64 KiB behind a virtio header, as a
    // virtual machine's network card gets them; the header goes across unchanged, so the other side's stack
    // cuts or takes them as it would from a real card. Some fifty times fewer frames to move.
    if (made && offload) {
        made = ::ioctl(device.get(), TUNSETOFFLOAD, TUN_F_CSUM | TUN_F_TSO4 | TUN_F_TSO6) == 0;
    }
    const int error = errno;
    if (!nsPath.empty() && ::setns(home.get(), CLONE_NEWNET) != 0) {
        std::perror("setns back");
        return false;
    }
    if (!made) {
        std::fprintf(stderr, "cannot make tap %s: %s\n", name.c_str(), std::strerror(error));
        return false;
    }
    tap = std::move(device);
    return true;
}

struct Direction
{
    const char* name;
    int from;
    int to;
    DelayLine line;
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    std::uint64_t drops = 0;
    std::int64_t lateSum = 0;
    std::int64_t lateMax = 0;
    std::size_t queueMax = 0;
};

// Fixed-size frame buffers, reused.
class FramePool
{
public:
    explicit FramePool(std::size_t frameSize) : size(frameSize) { }
    std::uint32_t take()
    {
        if (spare.empty()) {
            buffers.emplace_back(size);
            return static_cast<std::uint32_t>(buffers.size() - 1);
        }
        const std::uint32_t slot = spare.back();
        spare.pop_back();
        return slot;
    }
    void give(std::uint32_t slot) { spare.push_back(slot); }
    unsigned char* data(std::uint32_t slot) { return buffers[slot].data(); }
    std::size_t frameSize() const { return size; }

private:
    std::size_t size;
    std::vector<std::vector<unsigned char>> buffers;
    std::vector<std::uint32_t> spare;
};

bool splitSide(const std::string& text, std::string& nsPath, std::string& name)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) {
        return false;
    }
    nsPath = text.substr(0, colon);
    name = text.substr(colon + 1);
    return true;
}

void readFrames(Direction& dir, FramePool& pool)
{
    for (;;) {
        const std::uint32_t slot = pool.take();
        const ssize_t got = ::read(dir.from, pool.data(slot), pool.frameSize());
        if (got <= 0) {
            pool.give(slot);
            return;
        }
        if (!dir.line.push(nowNs(), static_cast<std::uint32_t>(got), slot)) {
            pool.give(slot);
            ++dir.drops;
        }
        dir.queueMax = std::max(dir.queueMax, dir.line.size());
    }
}

void sendDue(Direction& dir, FramePool& pool, std::int64_t now)
{
    while (dir.line.ready(now)) {
        const DelayedFrame frame = dir.line.pop();
        if (::write(dir.to, pool.data(frame.slot), frame.length) == static_cast<ssize_t>(frame.length)) {
            ++dir.frames;
            dir.bytes += frame.length;
            const std::int64_t late = now - frame.due;
            dir.lateSum += late;
            dir.lateMax = std::max(dir.lateMax, late);
        } else {
            ++dir.drops;
        }
        pool.give(frame.slot);
    }
}

void report(const Direction& dir)
{
    std::fprintf(stderr,
        "%s: %llu frames, %llu bytes, %llu dropped, longest queue %zu, late by %.1f us on average, "
        "%.1f us at most\n",
        dir.name, static_cast<unsigned long long>(dir.frames), static_cast<unsigned long long>(dir.bytes),
        static_cast<unsigned long long>(dir.drops), dir.queueMax,
        dir.frames ? dir.lateSum / 1000.0 / static_cast<double>(dir.frames) : 0.0, dir.lateMax / 1000.0);
}

} // namespace

int main(int argc, char** argv)
{
    std::string sideA;
    std::string sideB;
    long delayUs = -1;
    double rateMbit = 0;
    long limit = 1000;
    bool offload = true;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--no-offload") {
            offload = false;
            --i;
            continue;
        }
        if (i + 1 == argc) {
            delayUs = -1;
            break;
        }
        const char* value = argv[i + 1];
        if (option == "--a") {
            sideA = value;
        } else if (option == "--b") {
            sideB = value;
        } else if (option == "--delay-us") {
            delayUs = std::atol(value);
        } else if (option == "--rate-mbit") {
            rateMbit = std::atof(value);
        } else if (option == "--limit") {
            limit = std::atol(value);
        } else {
            delayUs = -1;
            break;
        }
    }
    std::string nsA;
    std::string nameA;
    std::string nsB;
    std::string nameB;
    if (delayUs < 0 || limit <= 0 || rateMbit < 0 || !splitSide(sideA, nsA, nameA) || !splitSide(sideB, nsB, nameB)) {
        std::fprintf(stderr,
            "usage: %s --a NETNS_PATH:IFNAME --b NETNS_PATH:IFNAME --delay-us N [--rate-mbit R] [--limit FRAMES] "
            "[--no-offload]\n",
            argv[0]);
        return 2;
    }
    Fd tapA;
    Fd tapB;
    if (!openTap(nsA, nameA, offload, tapA) || !openTap(nsB, nameB, offload, tapB)) {
        return 1;
    }
    // Wake-ups as close to a frame's due time as the kernel allows (the default slack is 50 us), and ahead
    // of the programs on the link: a wire takes no CPU from its hosts, and on a busy machine an ordinary
    // process wakes milliseconds late. Without the right to a real-time class it runs as it is, and says so.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sched_param priority {};
    priority.sched_priority = 10;
    if (::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &priority) != 0) {
        std::fprintf(
            stderr, "no real-time scheduling (%s): delays stretch when the machine is busy\n", std::strerror(errno));
    }
    struct sigaction action
    {
    };
    action.sa_handler = requestStop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    sigset_t blocked;
    sigset_t waiting;
    ::sigemptyset(&blocked);
    ::sigaddset(&blocked, SIGTERM);
    ::sigaddset(&blocked, SIGINT);
    ::sigprocmask(SIG_BLOCK, &blocked, &waiting);
    ::sigdelset(&waiting, SIGTERM);
    ::sigdelset(&waiting, SIGINT);

    const std::int64_t delayNs = delayUs * 1000LL;
    const auto rate = static_cast<std::uint64_t>(rateMbit * 1e6);
    // The largest frame a tap hands over: a whole segment and its virtio header.
    FramePool pool(65536 + 64);
    Direction dirs[2] = {{"a->b", tapA.get(), tapB.get(), DelayLine(delayNs, rate, static_cast<std::size_t>(limit))},
        {"b->a", tapB.get(), tapA.get(), DelayLine(delayNs, rate, static_cast<std::size_t>(limit))}};
    std::printf("ready\n");
    std::fflush(stdout);

    pollfd fds[2] = {{tapA.get(), POLLIN, 0}, {tapB.get(), POLLIN, 0}};
    while (!stopRequested) {
        const std::int64_t now = nowNs();
        std::int64_t next = -1;
        for (Direction& dir : dirs) {
            sendDue(dir, pool, now);
            if (!dir.line.empty()) {
                next = next < 0 ? dir.line.nextDue() : std::min(next, dir.line.nextDue());
            }
        }
        timespec wait {};
        if (next >= 0) {
            const std::int64_t left = std::max<std::int64_t>(0, next - now);
            wait.tv_sec = left / 1000000000LL;
            wait.tv_nsec = left % 1000000000LL;
        }
        const int ready = ::ppoll(fds, 2, next >= 0 ? &wait : nullptr, &waiting);
        if (ready < 0 && errno != EINTR) {
            std::perror("ppoll");
            return 1;
        }
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].revents & POLLIN) {
                readFrames(dirs[i], pool);
            }
        }
    }
    for (const Direction& dir : dirs) {
        report(dir);
    }
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "CPU time %.3f s\n",
        usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    return 0;
}
