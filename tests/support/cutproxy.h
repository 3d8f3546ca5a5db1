#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

// A loopback TCP proxy that forwards bytes both ways and, when armed, cuts the connection after a chosen
// number of bytes in one direction: exactly that many bytes get through, then both ends are closed. One
// connection at a time; later connections pass untouched until it is armed again.
class CutProxy
{
public:
    enum class Direction {
        SenderToReceiver, // bytes the connecting side writes
        ReceiverToSender, // bytes the upstream side answers
    };

    CutProxy(uint16_t listenPort, uint16_t upstreamPort);
    ~CutProxy();
    CutProxy(const CutProxy&) = delete;
    CutProxy& operator=(const CutProxy&) = delete;

    // False when the listening port cannot be bound.
    bool start();
    void arm(Direction direction, uint64_t afterBytes);
    // Instead of a cut: flips one bit of the byte at `offset` in that direction and goes on forwarding, as a
    // party on the path that tampers with the stream would.
    void armFlip(Direction direction, uint64_t offset);
    // True once the armed cut (or flip) has happened.
    bool cut() const { return didCut; }
    uint64_t forwarded(Direction direction) const;

private:
    void serve();
    void relay(int downstream, int upstream);

    const uint16_t listenPort;
    const uint16_t upstreamPort;
    int listener = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread thread;

    mutable std::mutex mutex;
    bool armed = false;
    Direction cutDirection = Direction::SenderToReceiver;
    uint64_t cutAfter = 0;
    bool flip = false;
    uint64_t counts[2] {0, 0};
    std::atomic<bool> didCut {false};
};
