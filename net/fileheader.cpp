#include "net/fileheader.h"

#include <cstring>

#include "net/byteorder.h"

static_assert(FileHeader::HomePrefixOffset == FileHeader::PathField, "homePrefixLength follows the path field");
static_assert(FileHeader::ReservedOffset == FileHeader::HomePrefixOffset + sizeof(uint32_t), "reserved at 4100");
static_assert(FileHeader::SizeOffset == FileHeader::ReservedOffset + 4, "size at 4104");
static_assert(FileHeader::SizeOffset + sizeof(uint64_t) == FileHeader::Size, "FileHeader is 4112 bytes");

bool FileHeader::encode(char* out) const
{
    if (path.size() >= PathField || path.find('\0') != std::string::npos) {
        return false;
    }
    // The bytes after the terminator and the reserved ones are not significant; zeros leak nothing.
    std::memset(out, 0, Size);
    std::memcpy(out, path.data(), path.size());
    ByteOrder::putU32(out + HomePrefixOffset, homePrefixLength);
    ByteOrder::putU64(out + SizeOffset, size);
    if (meta) {
        meta->write(out, path.size());
    }
    return true;
}

FileHeader FileHeader::decode(const char* in, bool* pathTerminated)
{
    FileHeader h;
    const void* nul = std::memchr(in, '\0', PathField);
    const std::size_t pathLength = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - in) : PathField;
    h.path.assign(in, pathLength);
    h.homePrefixLength = ByteOrder::getU32(in + HomePrefixOffset);
    h.size = ByteOrder::getU64(in + SizeOffset);
    h.meta = FileMeta::read(in);
    if (pathTerminated) {
        *pathTerminated = nul != nullptr;
    }
    return h;
}
