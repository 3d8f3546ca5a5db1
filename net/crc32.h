#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 as zlib and PNG compute it (reflected polynomial 0xEDB88320). Chains: pass the last result as
// `crc` to continue over more bytes.
uint32_t crc32(const void* data, std::size_t size, uint32_t crc = 0);
