#pragma once

#include <cstdint>

// Little-endian integers of the wire, independent of the host's byte order.
namespace ByteOrder {

void putU16(char* out, uint16_t value);
void putU32(char* out, uint32_t value);
void putU64(char* out, uint64_t value);
uint16_t getU16(const char* in);
uint32_t getU32(const char* in);
uint64_t getU64(const char* in);

} // namespace ByteOrder
