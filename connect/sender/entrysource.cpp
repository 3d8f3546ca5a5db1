#include "connect/sender/entrysource.h"

#include <cerrno>
#include <vector>

#include <unistd.h>

FileMeta metaFromStat(const struct stat& info, FileMeta::Kind kind)
{
    FileMeta meta;
    meta.kind = kind;
    meta.mode = static_cast<uint32_t>(info.st_mode) & FileMeta::ModeMask;
    meta.seconds = static_cast<int64_t>(info.st_mtim.tv_sec);
    meta.nanoseconds = static_cast<uint32_t>(info.st_mtim.tv_nsec);
    return meta;
}

EntrySource::EntrySource(const std::string& path, FileMeta::Kind kind)
{
    record.kind = kind;
    record.unreadable = true;
    struct stat info
    {
    };
    // A folder chosen as a root may be a link to one, and is followed as the scan followed it; a link is
    // looked at itself.
    const int looked = kind == FileMeta::Kind::Folder ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (looked != 0) {
        state = errno == ENOENT ? Status::Missing : Status::Unreadable;
        return;
    }
    const bool sameKind = kind == FileMeta::Kind::Folder ? S_ISDIR(info.st_mode) : S_ISLNK(info.st_mode);
    if (!sameKind || kind == FileMeta::Kind::File) {
        state = Status::Missing;
        return;
    }
    record = metaFromStat(info, kind);
    record.unreadable = true;
    if (kind == FileMeta::Kind::Link) {
        std::vector<char> text(MaxTarget + 1);
        const ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
        if (n <= 0 || static_cast<std::size_t>(n) > MaxTarget) {
            state = Status::Unreadable;
            return;
        }
        target.assign(text.data(), static_cast<std::size_t>(n));
    }
    record.unreadable = false;
    state = Status::Ready;
}
