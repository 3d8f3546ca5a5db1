#include "connect/receivedfile.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

ReceivedFile::ReceivedFile(std::string destination) : destination(std::move(destination)) { }

ReceivedFile::~ReceivedFile()
{
    discard();
}

bool ReceivedFile::replaceable(const std::string& destination)
{
    struct stat st;
    if (::stat(destination.c_str(), &st) != 0) {
        return true;
    }
    // Non-blocking, so a FIFO at that place cannot hold the receiver.
    const int existing = ::open(destination.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (existing < 0) {
        return false;
    }
    const bool free = ::flock(existing, LOCK_EX | LOCK_NB) == 0;
    if (free) {
        ::flock(existing, LOCK_UN);
    }
    ::close(existing);
    return free;
}

mode_t ReceivedFile::currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "Umask:") == 0) {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8)) & 0777;
        }
    }
    // Old kernels: the only way left changes the mask for a moment.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

bool ReceivedFile::open()
{
    discard();
    std::string pattern = folderOf(destination) + "/.movanta-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    temporary.assign(name.data());
    failed = false;
    return true;
}

bool ReceivedFile::write(const char* data, std::size_t size)
{
    if (fd < 0 || failed) {
        return false;
    }
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failed = true;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReceivedFile::commit(bool executable)
{
    if (fd < 0 || failed) {
        return false;
    }
    struct stat old;
    mode_t mode;
    if (::stat(destination.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        mode = 0666 & ~currentUmask();
    }
    if (executable) {
        // As "chmod +x" does: every execute bit the umask lets through.
        mode |= 0111 & ~currentUmask();
    }
    // close() reports delayed write errors of some file systems (NFS, a full quota).
    const bool written = ::fchmod(fd, mode) == 0 && ::close(fd) == 0;
    fd = -1;
    if (!written || ::rename(temporary.c_str(), destination.c_str()) != 0) {
        discard();
        return false;
    }
    temporary.clear();
    return true;
}

void ReceivedFile::discard()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
        temporary.clear();
    }
}
