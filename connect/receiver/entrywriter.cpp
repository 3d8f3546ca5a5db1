#include "connect/receiver/entrywriter.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/pathtext.h"
#include "common/resultbits.h"
#include "connect/receiver/makedirectories.h"

namespace {

// The path's components without empty ones and ".", joined again: "a//./b/" is "a/b".
std::vector<std::string> componentsOf(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    return parts;
}

std::string normalised(const std::string& path)
{
    std::string out = !path.empty() && path[0] == '/' ? "/" : "";
    for (const std::string& part : componentsOf(path)) {
        if (out.size() > 1 || (out.size() == 1 && out[0] != '/')) {
            out += '/';
        }
        out += part;
    }
    return out;
}

timespec mtimeOf(const FileMeta& meta)
{
    return timespec {static_cast<time_t>(meta.seconds), static_cast<long>(meta.nanoseconds)};
}

std::string linkTarget(const std::string& path)
{
    std::vector<char> buffer(EntryWriter::MaxTarget + 2);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    return n < 0 ? std::string() : std::string(buffer.data(), static_cast<std::size_t>(n));
}

} // namespace

bool EntryWriter::throughMadeLink(const std::string& path, bool itself) const
{
    if (madeLinks.empty()) {
        return false;
    }
    const std::vector<std::string> parts = componentsOf(path);
    std::string prefix = !path.empty() && path[0] == '/' ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (prefix.size() > 1 || (prefix.size() == 1 && prefix[0] != '/')) {
            prefix += '/';
        }
        prefix += parts[i];
        const bool last = i + 1 == parts.size();
        if ((itself || !last) && madeLinks.count(prefix) != 0) {
            return true;
        }
    }
    return false;
}

uint8_t EntryWriter::makeFolder(const std::string& path, const FileMeta& meta)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            folders.emplace_back(path, meta);
            return ResultBits::Success;
        }
        // The user's own link to a folder elsewhere keeps working and keeps its target's mode and time.
        if (S_ISLNK(st.st_mode) && isDirectory(path)) {
            return ResultBits::Success;
        }
        return ResultBits::NoDirectory;
    }
    if (!makeDirectories(path)) {
        return ResultBits::NoDirectory;
    }
    folders.emplace_back(path, meta);
    return ResultBits::Success;
}

uint8_t EntryWriter::makeLink(const std::string& path, const std::string& target, const FileMeta& meta)
{
    const std::string folder = folderOf(path);
    if (!isDirectory(folder) && !makeDirectories(folder)) {
        return ResultBits::NoDirectory | ResultBits::NotWritten;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        // A second run sends the same link again: already there.
        if (!S_ISLNK(st.st_mode) || linkTarget(path) != target) {
            return ResultBits::NotWritten;
        }
    } else if (::symlink(target.c_str(), path.c_str()) != 0) {
        return ResultBits::NotWritten;
    }
    madeLinks.insert(normalised(path));
    const timespec times[2] = {{0, UTIME_OMIT}, mtimeOf(meta)};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return ResultBits::Success;
}

void EntryWriter::finish()
{
    // Deepest first: a folder's own time is set after everything inside it has been touched.
    std::stable_sort(folders.begin(), folders.end(),
        [](const std::pair<std::string, FileMeta>& a, const std::pair<std::string, FileMeta>& b) {
            return componentsOf(a.first).size() > componentsOf(b.first).size();
        });
    for (const auto& [path, meta] : folders) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ::fchmod(fd, static_cast<mode_t>(meta.mode & FileMeta::ModeMask));
        const timespec times[2] = {{0, UTIME_OMIT}, mtimeOf(meta)};
        ::futimens(fd, times);
        ::close(fd);
    }
    folders.clear();
}

void EntryWriter::clear()
{
    folders.clear();
    madeLinks.clear();
}
