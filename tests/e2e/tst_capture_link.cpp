#include "tst_capture_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <tuple>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Large enough for the biggest segment a veth passes whole (64 KiB) with room to spare.
constexpr std::size_t ReadBuffer = 1 << 20;
// The socket's queue: the migration's frames must never find it full while the reader sleeps.
constexpr int QueueBytes = 256 << 20;

uint16_t be16(const std::string& f, std::size_t at)
{
    return static_cast<uint16_t>((uint8_t(f[at]) << 8) | uint8_t(f[at + 1]));
}

uint32_t be32(const std::string& f, std::size_t at)
{
    return (uint32_t(be16(f, at)) << 16) | be16(f, at + 2);
}

constexpr uint64_t HashBase = 0x100000001b3ull;

uint64_t power(std::size_t n)
{
    uint64_t p = 1;
    for (std::size_t i = 0; i < n; ++i) {
        p *= HashBase;
    }
    return p;
}

const uint64_t TopPower = power(WindowSearch::Window - 1);

// Calls each(offset, hash) for every window of `bytes`, hashing as it rolls.
template <typename Each>
void eachWindow(const char* bytes, std::size_t size, Each each)
{
    if (size < WindowSearch::Window) {
        return;
    }
    uint64_t h = 0;
    for (std::size_t i = 0; i < WindowSearch::Window; ++i) {
        h = h * HashBase + uint8_t(bytes[i]);
    }
    each(std::size_t(0), h);
    for (std::size_t i = WindowSearch::Window; i < size; ++i) {
        h = (h - uint8_t(bytes[i - WindowSearch::Window]) * TopPower) * HashBase + uint8_t(bytes[i]);
        each(i - WindowSearch::Window + 1, h);
    }
}

} // namespace

LinkCapture::~LinkCapture()
{
    stop();
}

bool LinkCapture::start(pid_t namespaceOwner, const std::string& device, std::string& error)
{
    stop();
    recorded.clear();
    kernelDrops = 0;
    cut = 0;
    stopping = false;
    state = 0;
    thread = std::thread([this, namespaceOwner, device] { run(namespaceOwner, device); });
    while (state == 0) {
        ::usleep(1000);
    }
    if (state < 0) {
        thread.join();
        error = why;
        return false;
    }
    return true;
}

void LinkCapture::run(pid_t owner, std::string device)
{
    // Only this thread moves into the other computer's network; the socket stays bound to it afterwards.
    const std::string path = "/proc/" + std::to_string(owner) + "/ns/net";
    const int ns = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) {
        why = "cannot join " + path + ": " + std::strerror(errno);
        if (ns >= 0) {
            ::close(ns);
        }
        state = -1;
        return;
    }
    ::close(ns);
    fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) {
        why = std::string("cannot open a packet socket: ") + std::strerror(errno);
        state = -1;
        return;
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &QueueBytes, sizeof(QueueBytes)) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &QueueBytes, sizeof(QueueBytes));
    }
    sockaddr_ll where {};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_ALL);
    where.sll_ifindex = static_cast<int>(::if_nametoindex(device.c_str()));
    if (where.sll_ifindex == 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) != 0) {
        why = "cannot capture on " + device + ": " + std::strerror(errno);
        ::close(fd);
        fd = -1;
        state = -1;
        return;
    }
    buffer.resize(ReadBuffer);
    state = 1;
    while (!stopping) {
        pollfd p {fd, POLLIN, 0};
        ::poll(&p, 1, 50);
        if (!drain()) {
            break;
        }
    }
    drain();
}

bool LinkCapture::drain()
{
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        if (static_cast<std::size_t>(n) > buffer.size()) {
            ++cut;
        }
        recorded.emplace_back(buffer.data(), std::min(static_cast<std::size_t>(n), buffer.size()));
    }
}

void LinkCapture::stop()
{
    if (!thread.joinable()) {
        return;
    }
    stopping = true;
    thread.join();
    if (fd >= 0) {
        tpacket_stats stats {};
        socklen_t length = sizeof(stats);
        if (::getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0) {
            kernelDrops += stats.tp_drops;
        }
        ::close(fd);
        fd = -1;
    }
}

TcpStreams reassemble(const std::vector<std::string>& frames)
{
    struct Flow
    {
        uint32_t base = 0;
        std::string bytes;
        std::vector<bool> seen;
    };
    // (source address, source port, destination address, destination port)
    std::map<std::tuple<uint32_t, uint16_t, uint32_t, uint16_t>, Flow> flows;
    TcpStreams out;
    for (const std::string& f : frames) {
        if (f.size() < 14 + 20 || be16(f, 12) != ETHERTYPE_IP) {
            continue;
        }
        const std::size_t ip = 14;
        const std::size_t ipHeader = (uint8_t(f[ip]) & 0x0f) * 4u;
        const std::size_t ipTotal = be16(f, ip + 2);
        if (uint8_t(f[ip + 9]) != IPPROTO_TCP || ipHeader < 20 || ip + ipTotal > f.size() || ipTotal < ipHeader + 20) {
            continue;
        }
        const std::size_t tcp = ip + ipHeader;
        const std::size_t tcpHeader = (uint8_t(f[tcp + 12]) >> 4) * 4u;
        if (tcpHeader < 20 || ipHeader + tcpHeader > ipTotal) {
            continue;
        }
        const auto key = std::make_tuple(be32(f, ip + 12), be16(f, tcp), be32(f, ip + 16), be16(f, tcp + 2));
        const uint32_t seq = be32(f, tcp + 4);
        const bool syn = (uint8_t(f[tcp + 13]) & 0x02) != 0;
        auto found = flows.find(key);
        if (found == flows.end()) {
            // A connection whose opening was not seen starts where its first segment does.
            found = flows.emplace(key, Flow {syn ? seq + 1 : seq, {}, {}}).first;
        } else if (syn) {
            found->second.base = seq + 1;
        }
        Flow& flow = found->second;
        const std::size_t length = ipTotal - ipHeader - tcpHeader;
        const uint32_t offset = seq + (syn ? 1 : 0) - flow.base;
        if (length == 0 || offset > (1u << 30)) {
            continue;
        }
        ++out.segments;
        if (flow.bytes.size() < offset + length) {
            flow.bytes.resize(offset + length, '\0');
            flow.seen.resize(offset + length, false);
        }
        std::memcpy(&flow.bytes[offset], f.data() + tcp + tcpHeader, length);
        std::fill(flow.seen.begin() + offset, flow.seen.begin() + offset + length, true);
    }
    for (auto& entry : flows) {
        out.holes += static_cast<uint64_t>(std::count(entry.second.seen.begin(), entry.second.seen.end(), false));
        if (!entry.second.bytes.empty()) {
            out.streams.push_back(std::move(entry.second.bytes));
        }
    }
    return out;
}

WindowSearch::WindowSearch(const std::vector<const std::string*>& recorded) : pieces(recorded)
{
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const std::string& piece = *pieces[p];
        eachWindow(piece.data(), piece.size(),
            [&](std::size_t at, uint64_t h) { index.emplace_back(h, (uint64_t(p) << 40) | at); });
    }
    std::sort(index.begin(), index.end());
}

bool WindowSearch::contains(uint64_t hash, const char* window) const
{
    auto it = std::lower_bound(index.begin(), index.end(), std::make_pair(hash, uint64_t(0)));
    for (; it != index.end() && it->first == hash; ++it) {
        const std::string& piece = *pieces[it->second >> 40];
        const std::size_t at = it->second & ((uint64_t(1) << 40) - 1);
        if (std::memcmp(piece.data() + at, window, Window) == 0) {
            return true;
        }
    }
    return false;
}

WindowSearch::Hits WindowSearch::search(const std::string& content, const std::string& key) const
{
    Hits hits;
    if (content.size() < Window) {
        return hits;
    }
    const std::size_t windows = content.size() - Window + 1;
    std::vector<uint8_t> plain(windows, 0), xored(windows, 0);
    eachWindow(content.data(), content.size(),
        [&](std::size_t at, uint64_t h) { plain[at] = contains(h, content.data() + at) ? 1 : 0; });
    // With the key starting at position `phase` at the content's first byte, window i starts at key
    // position (i + phase) % size: all phases together cover every alignment of every window.
    std::string masked(content.size(), '\0');
    for (std::size_t phase = 0; phase < key.size(); ++phase) {
        for (std::size_t i = 0; i < content.size(); ++i) {
            masked[i] = static_cast<char>(content[i] ^ key[(i + phase) % key.size()]);
        }
        eachWindow(masked.data(), masked.size(), [&](std::size_t at, uint64_t h) {
            if (!xored[at] && contains(h, masked.data() + at)) {
                xored[at] = 1;
            }
        });
    }
    hits.windows = windows;
    for (std::size_t i = 0; i < windows; ++i) {
        hits.plain += plain[i];
        hits.xored += plain[i] ? 0 : xored[i];
    }
    return hits;
}

uint64_t WindowSearch::count(const std::string& needle) const
{
    uint64_t n = 0;
    for (const std::string* piece : pieces) {
        for (std::size_t at = piece->find(needle); at != std::string::npos; at = piece->find(needle, at + 1)) {
            ++n;
        }
    }
    return n;
}

uint64_t WindowSearch::bytes() const
{
    uint64_t n = 0;
    for (const std::string* piece : pieces) {
        n += piece->size();
    }
    return n;
}
