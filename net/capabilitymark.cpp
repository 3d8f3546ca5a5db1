#include "net/capabilitymark.h"

#include <cstring>

#include "net/announcement.h"
#include "net/byteorder.h"
#include "net/crc32.h"

namespace CapabilityMark {

namespace {

constexpr std::size_t LengthAt = 3;
constexpr std::size_t CapabilitiesAt = 4;
constexpr std::size_t ChecksumAt = 8;

// Where a mark may start in a name field: after its NUL, when the rest of the field holds it.
long placeIn(const char* announcement, std::size_t fieldOffset)
{
    const char* field = announcement + fieldOffset;
    const void* nul = std::memchr(field, '\0', Announcement::NameField);
    if (!nul) {
        return -1;
    }
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nul) - field) + 1;
    if (at + Size > Announcement::NameField) {
        return -1;
    }
    return static_cast<long>(fieldOffset + at);
}

std::size_t textLength(const char* field)
{
    const void* nul = std::memchr(field, '\0', Announcement::NameField);
    return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : Announcement::NameField;
}

uint32_t checksumOf(const char* announcement, const char* mark)
{
    const char* host = announcement + Announcement::HostNameOffset;
    const char* distro = announcement + Announcement::DistroOffset;
    uint32_t crc = crc32(host, textLength(host));
    crc = crc32("", 1, crc);
    crc = crc32(distro, textLength(distro), crc);
    crc = crc32("", 1, crc);
    crc = crc32(announcement + Announcement::TypeOffset, sizeof(uint16_t), crc);
    return crc32(mark, ChecksumAt, crc);
}

uint32_t readAt(const char* announcement, long at)
{
    if (at < 0) {
        return 0;
    }
    const char* mark = announcement + at;
    if (std::memcmp(mark, Magic, sizeof(Magic)) != 0 || static_cast<uint8_t>(mark[2]) != Version
        || static_cast<uint8_t>(mark[LengthAt]) != Size) {
        return 0;
    }
    if (ByteOrder::getU32(mark + ChecksumAt) != checksumOf(announcement, mark)) {
        return 0;
    }
    return ByteOrder::getU32(mark + CapabilitiesAt);
}

} // namespace

bool write(char* announcement, uint32_t capabilities)
{
    long at = placeIn(announcement, Announcement::HostNameOffset);
    if (at < 0) {
        at = placeIn(announcement, Announcement::DistroOffset);
    }
    if (at < 0) {
        return false;
    }
    char* mark = announcement + at;
    std::memcpy(mark, Magic, sizeof(Magic));
    mark[2] = static_cast<char>(Version);
    mark[LengthAt] = static_cast<char>(Size);
    ByteOrder::putU32(mark + CapabilitiesAt, capabilities);
    ByteOrder::putU32(mark + ChecksumAt, checksumOf(announcement, mark));
    return true;
}

uint32_t read(const char* announcement)
{
    const uint32_t inHost = readAt(announcement, placeIn(announcement, Announcement::HostNameOffset));
    return inHost != 0 ? inHost : readAt(announcement, placeIn(announcement, Announcement::DistroOffset));
}

} // namespace CapabilityMark
