#pragma once

#include <cstddef>
#include <cstdint>

// The receiver's disk space in bytes, 16 bytes on the wire: total at 0, free at 8, little-endian.
struct FreeSpaceMessage
{
    static constexpr std::size_t Size = 16;
    uint64_t total = 0;
    uint64_t free = 0;

    void encode(char* out) const;
    static FreeSpaceMessage decode(const char* in);
};
