#include "connect/receiver/receivedfile.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/pathtext.h"
#include "connect/receiver/leftoversweep.h"

namespace {

// Six letters or digits, as mkstemp would pick (which creates with 0600 only).
std::string randomSuffix()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator(std::random_device {}());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(letters) - 2);
    std::string suffix(6, 'x');
    for (char& c : suffix) {
        c = letters[pick(generator)];
    }
    return suffix;
}

} // namespace

ReceivedFile::ReceivedFile(std::string destinationPath) : destination(std::move(destinationPath)) { }

ReceivedFile::~ReceivedFile()
{
    discard();
}

namespace {

// An existing destination may be replaced when it can be opened for writing and nobody holds a lock on it.
bool lockable(const std::string& destination)
{
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

} // namespace

bool ReceivedFile::replaceable(const std::string& destination)
{
    struct stat st;
    return ::stat(destination.c_str(), &st) != 0 || lockable(destination);
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
    // While it is written the file is no more open to others than the one it replaces. A new file is
    // created with 0666 and the kernel's umask, which is already its final mode: no chmod later.
    struct stat old;
    const bool exists = ::stat(destination.c_str(), &old) == 0;
    if (exists && !lockable(destination)) {
        return false;
    }
    replacing = exists && S_ISREG(old.st_mode);
    return createIn(folderOf(destination), replacing ? (old.st_mode & 0666) : 0666);
}

bool ReceivedFile::createIn(const std::string& folder, mode_t mode)
{
    const std::string prefix = folder + "/" + LeftoverSweep::prefix();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + randomSuffix();
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            temporary = std::move(name);
            failed = false;
            written = 0;
            writeBackFrom = 0;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

bool ReceivedFile::openSpare(const std::string& folder)
{
    discard();
    replacing = false;
    return createIn(folder, 0666);
}

bool ReceivedFile::adopt(ReceivedFile& spare)
{
    if (spare.fd < 0 || spare.written != 0 || spare.failed) {
        return false;
    }
    // Removed meanwhile (its folder deleted by hand, say): of no use.
    struct stat st;
    if (::fstat(spare.fd, &st) != 0 || st.st_nlink == 0) {
        return false;
    }
    // A file standing there is replaced through a temporary file made for it (its mode, its lock check).
    if (::stat(destination.c_str(), &st) == 0) {
        return false;
    }
    const std::string folder = folderOf(destination);
    std::string name = spare.temporary;
    if (folderOf(name) != folder) {
        std::string moved = folder + "/" + LeftoverSweep::prefix() + randomSuffix();
        if (::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, moved.c_str(), RENAME_NOREPLACE) != 0) {
            return false;
        }
        name = std::move(moved);
    }
    discard();
    fd = std::exchange(spare.fd, -1);
    spare.temporary.clear();
    temporary = std::move(name);
    replacing = false;
    failed = false;
    written = 0;
    writeBackFrom = 0;
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
        written += static_cast<uint64_t>(n);
    }
    startWriteBack(false);
    return true;
}

void ReceivedFile::startWriteBack(bool last)
{
    // The migration ends with a sync of every file system written to; pages of large files sent to the
    // disk meanwhile do not all wait for that moment. Small files are left to the kernel's own batching.
    constexpr uint64_t Step = 8 << 20;
    const uint64_t pending = written - writeBackFrom;
    if (pending >= Step || (last && written >= Step / 8 && pending > 0)) {
        ::sync_file_range(fd, static_cast<off_t>(writeBackFrom), static_cast<off_t>(pending), SYNC_FILE_RANGE_WRITE);
        writeBackFrom = written;
    }
}

bool ReceivedFile::commit(bool executable)
{
    if (fd < 0 || failed) {
        return false;
    }
    // Looked at again only when a file stood there: its mode may have changed meanwhile.
    struct stat old;
    const bool replaces = replacing && ::stat(destination.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // A new file created as such already has its mode; anything else gets it set here.
    bool setMode = replaces || replacing || executable || senderMeta;
    mode_t mode = 0;
    if (senderMeta) {
        mode = static_cast<mode_t>(senderMeta->mode & FileMeta::ModeMask);
    } else if (replaces) {
        mode = old.st_mode & 07777;
    } else if (setMode) {
        mode = 0666 & ~currentUmask();
    }
    if (executable) {
        // As "chmod +x" does: every execute bit the umask lets through.
        mode |= 0111 & ~currentUmask();
    }
    startWriteBack(true);
    // close() reports delayed write errors of some file systems (NFS, a full quota).
    bool closed = !setMode || ::fchmod(fd, mode) == 0;
    if (closed && senderMeta) {
        // After the last write, which would otherwise set the time anew; a rename keeps it.
        const timespec times[2]
            = {{0, UTIME_OMIT}, {static_cast<time_t>(senderMeta->seconds), static_cast<long>(senderMeta->nanoseconds)}};
        closed = ::futimens(fd, times) == 0;
    }
    closed = ::close(fd) == 0 && closed;
    fd = -1;
    if (!closed || ::rename(temporary.c_str(), destination.c_str()) != 0) {
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
