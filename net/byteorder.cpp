#include "net/byteorder.h"

namespace ByteOrder {

namespace {

template <typename T>
void put(char* out, T value)
{
    for (unsigned i = 0; i < sizeof(T); ++i) {
        out[i] = static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

template <typename T>
T get(const char* in)
{
    T value = 0;
    for (unsigned i = 0; i < sizeof(T); ++i) {
        value |= static_cast<T>(static_cast<unsigned char>(in[i])) << (8 * i);
    }
    return value;
}

} // namespace

void putU16(char* out, uint16_t value)
{
    put(out, value);
}

void putU32(char* out, uint32_t value)
{
    put(out, value);
}

void putU64(char* out, uint64_t value)
{
    put(out, value);
}

uint16_t getU16(const char* in)
{
    return get<uint16_t>(in);
}

uint32_t getU32(const char* in)
{
    return get<uint32_t>(in);
}

uint64_t getU64(const char* in)
{
    return get<uint64_t>(in);
}

} // namespace ByteOrder
