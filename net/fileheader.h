#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/filemeta.h"

// Announces one file, 4112 bytes: the NUL-terminated path in a 4096-byte field, homePrefixLength (u32) at
// 4096, 4 reserved bytes at 4100, size (u64) at 4104, little-endian.
struct FileHeader
{
    static constexpr std::size_t Size = 4112;
    static constexpr std::size_t PathField = 4096;
    static constexpr std::size_t HomePrefixOffset = 4096;
    static constexpr std::size_t ReservedOffset = 4100;
    static constexpr std::size_t SizeOffset = 4104;

    std::string path; // at most PathField - 1 bytes travel
    uint32_t homePrefixLength = 0;
    uint64_t size = 0;
    // This program's record of the entry; a path too long to leave room for it travels without.
    std::optional<FileMeta> meta;

    // False when the path does not fit the field with its terminator (nothing is written then).
    bool encode(char* out) const;
    // The path is read up to its NUL, never past the field: a field without a NUL yields 4096 bytes
    // and pathTerminated false. meta is set only when a valid record is there.
    static FileHeader decode(const char* in, bool* pathTerminated = nullptr);
};
