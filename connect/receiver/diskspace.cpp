#include "connect/receiver/diskspace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/statvfs.h>

namespace {

// The mounts file writes space, tab, newline and backslash in a mount point as three octal digits.
std::string unescapeMountPoint(const std::string& field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

} // namespace

DiskSpace getDiskSpace(const char* mountsPath)
{
    DiskSpace space;
    std::ifstream mounts(mountsPath);
    if (!mounts) {
        std::fprintf(stderr, "Failed to open /proc/mounts: %s\n", std::strerror(errno));
        return space;
    }
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint) || mountPoint.empty() || mountPoint[0] != '/') {
            continue;
        }
        const std::string point = unescapeMountPoint(mountPoint);
        struct statvfs fs;
        if (::statvfs(point.c_str(), &fs) != 0) {
            std::fprintf(stderr, "statvfs: %s\n", std::strerror(errno));
            continue;
        }
        space.total += static_cast<uint64_t>(fs.f_frsize) * fs.f_blocks;
        space.free += static_cast<uint64_t>(fs.f_frsize) * fs.f_bfree;
        space.available += static_cast<uint64_t>(fs.f_frsize) * fs.f_bavail;
    }
    std::printf("Total space: %lu bytes\n", static_cast<unsigned long>(space.total));
    std::printf("Free space: %lu bytes\n", static_cast<unsigned long>(space.free));
    std::printf("Available space: %lu bytes\n", static_cast<unsigned long>(space.available));
    std::fflush(stdout);
    return space;
}
