#include "net/transferheader.h"

#include "net/byteorder.h"

namespace {

constexpr std::size_t FileCountOffset = 0;
constexpr std::size_t TotalBytesOffset = 8;
static_assert(TotalBytesOffset + sizeof(uint64_t) == TransferHeader::Size, "TransferHeader is 16 bytes");

} // namespace

void TransferHeader::encode(char* out) const
{
    ByteOrder::putU64(out + FileCountOffset, fileCount);
    ByteOrder::putU64(out + TotalBytesOffset, totalBytes);
}

TransferHeader TransferHeader::decode(const char* in)
{
    TransferHeader h;
    h.fileCount = ByteOrder::getU64(in + FileCountOffset);
    h.totalBytes = ByteOrder::getU64(in + TotalBytesOffset);
    return h;
}
