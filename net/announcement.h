#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The 66-byte datagram a receiver broadcasts: host name at 0 and distribution name at 32, each in a
// 32-byte NUL-terminated field, then the type (u16, little-endian) at 64.
struct Announcement
{
    static constexpr std::size_t Size = 66;
    static constexpr std::size_t NameField = 32;
    static constexpr std::size_t HostNameOffset = 0;
    static constexpr std::size_t DistroOffset = 32;
    static constexpr std::size_t TypeOffset = 64;
    static constexpr uint16_t ReceiverType = 2;

    std::string hostName;
    std::string distro;
    uint16_t type = ReceiverType;
    // CapabilityMark bits, carried in the free bytes after a name's NUL when there is room.
    uint32_t capabilities = 0;

    // Names of 32 bytes or more are cut to 31 on a UTF-8 character boundary; the rest of each field is
    // zeros, but for the capability mark when there are capabilities to tell.
    void encode(char* out) const;
    // Each text is read up to its NUL within its field. Datagrams shorter than Size are not announcements
    // (false); longer ones count by their first Size bytes.
    static bool decode(const char* in, std::size_t n, Announcement& out);
};

// The longest prefix of text of at most maxBytes bytes that does not end inside a UTF-8 character.
std::string cutUtf8(const std::string& text, std::size_t maxBytes);
