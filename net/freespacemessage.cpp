#include "net/freespacemessage.h"

#include "net/byteorder.h"

namespace {

constexpr std::size_t TotalOffset = 0;
constexpr std::size_t FreeOffset = 8;
static_assert(FreeOffset + sizeof(uint64_t) == FreeSpaceMessage::Size, "FreeSpaceMessage is 16 bytes");

} // namespace

void FreeSpaceMessage::encode(char* out) const
{
    ByteOrder::putU64(out + TotalOffset, total);
    ByteOrder::putU64(out + FreeOffset, free);
}

FreeSpaceMessage FreeSpaceMessage::decode(const char* in)
{
    FreeSpaceMessage m;
    m.total = ByteOrder::getU64(in + TotalOffset);
    m.free = ByteOrder::getU64(in + FreeOffset);
    return m;
}
