#pragma once

#include <cstddef>
#include <cstdint>

// Announces the run, 16 bytes: fileCount at 0, totalBytes at 8, little-endian.
struct TransferHeader
{
    static constexpr std::size_t Size = 16;
    uint64_t fileCount = 0;
    uint64_t totalBytes = 0;

    void encode(char* out) const;
    static TransferHeader decode(const char* in);
};
