#include "net/filemeta.h"

#include <cstring>

#include "net/byteorder.h"
#include "net/crc32.h"
#include "net/fileheader.h"

static_assert(FileMeta::MarkerSize == 4, "the marker fills the reserved bytes");
static_assert(FileMeta::MaxPath + 1 + FileMeta::RecordSize == FileHeader::PathField, "record ends the path field");

namespace {

constexpr std::size_t KindAt = 0;
constexpr std::size_t FlagsAt = 1;
constexpr std::size_t ModeAt = 2;
constexpr std::size_t SecondsAt = 4;
constexpr std::size_t NanosecondsAt = 12;
constexpr std::size_t ChecksumAt = 16;
constexpr uint32_t NanosecondsPerSecond = 1000000000;

// Marker, path with its NUL, prefix length and size, then the record up to its checksum.
uint32_t checksumOf(const char* header, std::size_t pathLength)
{
    uint32_t crc = crc32(header + FileHeader::ReservedOffset, FileMeta::MarkerSize);
    crc = crc32(header, pathLength + 1, crc);
    crc = crc32(header + FileHeader::HomePrefixOffset, sizeof(uint32_t), crc);
    crc = crc32(header + FileHeader::SizeOffset, sizeof(uint64_t), crc);
    return crc32(header + pathLength + 1, ChecksumAt, crc);
}

} // namespace

bool FileMeta::fits(std::size_t pathLength)
{
    return pathLength <= MaxPath;
}

bool FileMeta::write(char* header, std::size_t pathLength) const
{
    if (!fits(pathLength) || header[pathLength] != '\0') {
        return false;
    }
    char* marker = header + FileHeader::ReservedOffset;
    std::memcpy(marker, Magic, sizeof(Magic));
    marker[3] = static_cast<char>(Version);

    char* record = header + pathLength + 1;
    record[KindAt] = static_cast<char>(kind);
    record[FlagsAt] = static_cast<char>(unreadable ? UnreadableFlag : 0);
    ByteOrder::putU16(record + ModeAt, static_cast<uint16_t>(mode & ModeMask));
    ByteOrder::putU64(record + SecondsAt, static_cast<uint64_t>(seconds));
    ByteOrder::putU32(record + NanosecondsAt, nanoseconds < NanosecondsPerSecond ? nanoseconds : 0);
    ByteOrder::putU32(record + ChecksumAt, checksumOf(header, pathLength));
    return true;
}

std::optional<FileMeta> FileMeta::read(const char* header)
{
    const char* marker = header + FileHeader::ReservedOffset;
    if (std::memcmp(marker, Magic, sizeof(Magic)) != 0 || static_cast<uint8_t>(marker[3]) != Version) {
        return std::nullopt;
    }
    const void* nul = std::memchr(header, '\0', FileHeader::PathField);
    if (!nul) {
        return std::nullopt;
    }
    const std::size_t pathLength = static_cast<std::size_t>(static_cast<const char*>(nul) - header);
    if (!fits(pathLength)) {
        return std::nullopt;
    }
    const char* record = header + pathLength + 1;
    if (ByteOrder::getU32(record + ChecksumAt) != checksumOf(header, pathLength)) {
        return std::nullopt;
    }
    const uint8_t kind = static_cast<uint8_t>(record[KindAt]);
    const uint32_t nanoseconds = ByteOrder::getU32(record + NanosecondsAt);
    if (kind > static_cast<uint8_t>(Kind::Link) || nanoseconds >= NanosecondsPerSecond) {
        return std::nullopt;
    }
    FileMeta meta;
    meta.kind = static_cast<Kind>(kind);
    meta.unreadable = (static_cast<uint8_t>(record[FlagsAt]) & UnreadableFlag) != 0;
    // Masked on reading as well: a sender's setuid bit never reaches a file here.
    meta.mode = ByteOrder::getU16(record + ModeAt) & ModeMask;
    meta.seconds = static_cast<int64_t>(ByteOrder::getU64(record + SecondsAt));
    meta.nanoseconds = nanoseconds;
    return meta;
}

bool FileMeta::operator==(const FileMeta& other) const
{
    return kind == other.kind && unreadable == other.unreadable && mode == other.mode && seconds == other.seconds
        && nanoseconds == other.nanoseconds;
}
