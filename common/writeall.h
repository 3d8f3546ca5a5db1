#pragma once

#include <cstddef>

// Writes all `size` bytes to the descriptor, going on after interrupted and partial writes. False when
// the descriptor refuses (full disk, closed pipe).
bool writeAll(int fd, const char* data, std::size_t size);
