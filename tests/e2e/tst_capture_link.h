#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

// Every Ethernet frame that crosses one network device, recorded from a raw packet socket opened inside
// the network namespace of another process (one end of a veth pair sees both directions of the link).
class LinkCapture
{
public:
    LinkCapture() = default;
    ~LinkCapture();
    LinkCapture(const LinkCapture&) = delete;
    LinkCapture& operator=(const LinkCapture&) = delete;

    // False with the reason in `error` when the namespace cannot be joined or the device not opened.
    bool start(pid_t namespaceOwner, const std::string& device, std::string& error);
    // Reads what is still queued, then closes the socket.
    void stop();

    // Only after stop().
    const std::vector<std::string>& frames() const { return recorded; }
    // Frames the kernel could not queue for the socket, and frames longer than the read buffer: either
    // means the record is incomplete.
    uint64_t dropped() const { return kernelDrops; }
    uint64_t truncated() const { return cut; }

private:
    void run(pid_t owner, std::string device);
    bool drain();

    int fd = -1;
    std::thread thread;
    std::atomic<bool> stopping {false};
    std::atomic<int> state {0}; // 0 starting, 1 capturing, -1 failed
    std::string why;
    std::vector<std::string> recorded;
    std::vector<char> buffer;
    uint64_t kernelDrops = 0;
    uint64_t cut = 0;
};

// The payload bytes of each TCP connection direction seen in the frames, put in sequence order, so a
// pattern that spans two segments is found too. Holes (bytes never seen) stay zero and are counted.
struct TcpStreams
{
    std::vector<std::string> streams;
    uint64_t holes = 0;
    uint64_t segments = 0;
};
TcpStreams reassemble(const std::vector<std::string>& frames);

// Looks for every 32-byte window of some files in recorded bytes, as they are and XORed with a repeating
// key (the key may start at any of its positions at the window's first byte).
class WindowSearch
{
public:
    static constexpr std::size_t Window = 32;

    // The recorded bytes: each piece is searched on its own (windows never span two pieces).
    explicit WindowSearch(const std::vector<const std::string*>& pieces);

    struct Hits
    {
        uint64_t windows = 0; // windows of the content checked
        uint64_t plain = 0; // windows found as they are
        uint64_t xored = 0; // windows found only XORed with the key
    };
    Hits search(const std::string& content, const std::string& key) const;

    // Occurrences of `needle` in the pieces.
    uint64_t count(const std::string& needle) const;
    uint64_t bytes() const;

private:
    bool contains(uint64_t hash, const char* window) const;

    std::vector<const std::string*> pieces;
    // Hash of each recorded window with where it starts (piece index in the high 24 bits, offset below).
    std::vector<std::pair<uint64_t, uint64_t>> index;
};
