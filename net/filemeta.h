#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// What this program adds to a FileHeader, in bytes the protocol leaves free: a marker in the 4 reserved
// bytes and, right after the path's NUL, a record with the entry's kind, permission bits, modification
// time and whether the sender could read it. A checksum over marker, path, prefix length, size and record
// ties the record to its header, so bytes a sender left there by chance are never taken for one. A peer
// that knows nothing of it sees bytes that are not significant. Layout: docs/wire-extensions.md.
class FileMeta
{
public:
    enum class Kind : uint8_t {
        File = 0,
        Folder = 1, // no content
        Link = 2, // the content is the link's target text
    };

    static constexpr uint8_t Magic[3] = {0x4d, 0x56, 0xb7};
    static constexpr uint8_t Version = 1;
    static constexpr std::size_t MarkerSize = 4;
    static constexpr std::size_t RecordSize = 20;
    // Longest path that leaves room for the record after its NUL.
    static constexpr std::size_t MaxPath = 4096 - 1 - RecordSize;
    // Only permission bits travel: never setuid, setgid or sticky.
    static constexpr uint32_t ModeMask = 0777;
    static constexpr uint8_t UnreadableFlag = 0x01;

    Kind kind = Kind::File;
    // The sender could not read the entry (unreadable, vanished): it carries no content and replaces nothing.
    bool unreadable = false;
    uint32_t mode = 0;
    int64_t seconds = 0; // since 1970, negative before
    uint32_t nanoseconds = 0; // below 1e9

    // Whether a header for `pathLength` bytes of path has room for the record.
    static bool fits(std::size_t pathLength);

    // Adds marker and record to the 4112 bytes of an encoded FileHeader whose path is pathLength long.
    // False, nothing written, when there is no room.
    bool write(char* header, std::size_t pathLength) const;
    // The record of an encoded FileHeader, when a valid one is there.
    static std::optional<FileMeta> read(const char* header);

    bool operator==(const FileMeta& other) const;
};
