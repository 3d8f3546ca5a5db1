#include "delayline.h"

#include <algorithm>

DelayLine::DelayLine(std::int64_t delayNs, std::uint64_t bitsPerSecond, std::size_t limit)
    : delay(delayNs), rate(bitsPerSecond), capacity(limit)
{ }

bool DelayLine::push(std::int64_t now, std::uint32_t length, std::uint32_t slot)
{
    if (frames.size() >= capacity) {
        return false;
    }
    std::int64_t sent = std::max(now, lineFree);
    if (rate != 0) {
        sent += static_cast<std::int64_t>(length * 8ULL * 1000000000ULL / rate);
    }
    lineFree = sent;
    // Never before the frame ahead of it, whatever the caller's clock did.
    lastDue = std::max(lastDue, sent + delay);
    frames.push_back({lastDue, length, slot});
    return true;
}

DelayedFrame DelayLine::pop()
{
    const DelayedFrame frame = frames.front();
    frames.pop_front();
    return frame;
}
