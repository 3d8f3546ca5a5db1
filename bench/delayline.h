// One direction of an emulated link: frames leave in the order they came, each after the time its bytes
// take at the link's rate (one frame on the line at a time) plus the one-way delay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

struct DelayedFrame
{
    std::int64_t due = 0; // nanoseconds, on the caller's clock
    std::uint32_t length = 0;
    std::uint32_t slot = 0; // the caller's buffer
};

class DelayLine
{
public:
    // bitsPerSecond 0: no rate limit. A frame that finds `limit` frames waiting is dropped, as a full
    // router queue would drop it.
    DelayLine(std::int64_t delayNs, std::uint64_t bitsPerSecond, std::size_t limit);

    // False when the frame is dropped; its slot stays the caller's.
    bool push(std::int64_t now, std::uint32_t length, std::uint32_t slot);
    bool ready(std::int64_t now) const { return !frames.empty() && frames.front().due <= now; }
    bool empty() const { return frames.empty(); }
    std::size_t size() const { return frames.size(); }
    std::int64_t nextDue() const { return frames.front().due; }
    DelayedFrame pop();

private:
    std::deque<DelayedFrame> frames;
    std::int64_t delay;
    std::uint64_t rate;
    std::size_t capacity;
    std::int64_t lineFree = 0;
    std::int64_t lastDue = 0;
};
