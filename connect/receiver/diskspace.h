#pragma once

#include <cstdint>

// Space of every mounted file system added up, in bytes.
struct DiskSpace
{
    uint64_t total = 0;
    uint64_t free = 0; // free to the super-user
    uint64_t available = 0; // free to ordinary users
};

// Sums fragment size x blocks over the mount points listed in `mountsPath` (the format of "/proc/mounts").
// Every listed file system counts, as often as it is listed. Mount points that cannot be queried are
// reported on the error stream and skipped; the three sums are printed on standard output.
DiskSpace getDiskSpace(const char* mountsPath = "/proc/mounts");
