#pragma once

#include <cstddef>
#include <cstdint>

// What a receiver of this program can do beyond the protocol, told in an announcement's free bytes: right
// after the NUL of the host name, or of the distribution name when the host name leaves no room. A
// checksum over both names, the type and the mark itself keeps a stranger's leftover bytes from being read
// as one. Names too long for it mean no mark, and a sender then uses nothing beyond the protocol.
// Layout: docs/wire-extensions.md.
namespace CapabilityMark {

constexpr uint8_t Magic[2] = {0x4d, 0x43};
constexpr uint8_t Version = 1;
constexpr std::size_t Size = 12;

// Bit 0: the receiver takes folder and link entries. Bit 1: it offers the secure channel (pairing by
// password-authenticated key exchange, then encrypted frames). Further bits are for later abilities.
constexpr uint32_t Entries = 1u << 0;
constexpr uint32_t Secure = 1u << 1;

// Writes the mark into an encoded 66-byte announcement; false when neither name leaves room.
bool write(char* announcement, uint32_t capabilities);
// The capabilities marked in an announcement, 0 when it holds no valid mark.
uint32_t read(const char* announcement);

} // namespace CapabilityMark
