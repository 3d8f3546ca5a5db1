#include "connect/install/packagemanagerwait.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// How often the locks are asked again, and how often a stop is looked for meanwhile.
constexpr std::chrono::milliseconds RecheckEvery {250};
constexpr std::chrono::milliseconds StopCheckEvery {50};

struct Settings
{
    std::mutex mutex;
    std::vector<std::string> lockFiles = PackageManagerWait::defaultLockFiles();
    std::chrono::milliseconds limit = PackageManagerWait::DefaultLimit;
};

Settings& settings()
{
    static Settings shared;
    return shared;
}

bool isSet(const std::atomic<bool>* flag)
{
    return flag && flag->load();
}

class Descriptor
{
public:
    explicit Descriptor(int descriptor) : fd(descriptor) { }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

// Asks the lock on an open descriptor as a would-be writer; no lock is taken. An open-file-description
// query also sees classic locks of this very process; old kernels only know the classic query.
bool writerWouldBeBlocked(int fd, bool& answered)
{
    struct flock query
    {
    };
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    answered = true;
    if (::fcntl(fd, F_OFD_GETLK, &query) == 0)
        return query.l_type != F_UNLCK;
    query = {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &query) == 0)
        return query.l_type != F_UNLCK;
    answered = false;
    return false;
}

bool lockTableHoldsFile(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return false;
    std::ifstream table("/proc/locks");
    if (!table)
        return false;
    std::ostringstream text;
    text << table.rdbuf();
    return lockTableHolds(text.str(), major(info.st_dev), minor(info.st_dev), info.st_ino);
}

} // namespace

PackageManagerWait::PackageManagerWait()
{
    Settings& shared = settings();
    std::lock_guard<std::mutex> guard(shared.mutex);
    lockFiles = shared.lockFiles;
    limit = shared.limit;
}

PackageManagerWait::Outcome PackageManagerWait::wait(const std::atomic<bool>* stop) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        bool held = false;
        for (const std::string& file : lockFiles) {
            if (isLockFileHeld(file)) {
                held = true;
                break;
            }
        }
        if (isSet(stop))
            return Outcome::Stopped;
        if (!held)
            return Outcome::Free;
        const auto recheck = std::chrono::steady_clock::now() + RecheckEvery;
        for (;;) {
            const auto now = std::chrono::steady_clock::now();
            if (isSet(stop))
                return Outcome::Stopped;
            if (now >= deadline)
                return Outcome::GaveUp;
            if (now >= recheck)
                break;
            std::this_thread::sleep_for(StopCheckEvery);
        }
    }
}

const std::vector<std::string>& PackageManagerWait::defaultLockFiles()
{
    // The frontend lock first: apt holds it for a whole run, dpkg's own lock only while dpkg works.
    static const std::vector<std::string> files {"/var/lib/dpkg/lock-frontend", "/var/lib/dpkg/lock"};
    return files;
}

void PackageManagerWait::setLockFiles(const std::vector<std::string>& files)
{
    Settings& shared = settings();
    std::lock_guard<std::mutex> guard(shared.mutex);
    shared.lockFiles = files;
}

void PackageManagerWait::setLimit(std::chrono::milliseconds newLimit)
{
    Settings& shared = settings();
    std::lock_guard<std::mutex> guard(shared.mutex);
    shared.limit = newLimit;
}

void PackageManagerWait::restoreDefaults()
{
    setLockFiles(defaultLockFiles());
    setLimit(DefaultLimit);
}

bool isLockFileHeld(const std::string& path)
{
    // Read-only is enough to ask; opening for writing would need root and could create the file.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        // dpkg's lock files are readable by root only.
        return lockTableHoldsFile(path);
    }
    bool answered = false;
    const bool blocked = writerWouldBeBlocked(file.get(), answered);
    return answered ? blocked : lockTableHoldsFile(path);
}

bool lockTableHolds(const std::string& table, unsigned major, unsigned minor, unsigned long inode)
{
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        // "1: POSIX  ADVISORY  WRITE 1234 fe:00:408225 0 EOF"; a waiter's line has "->" after the number.
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind;
        if (kind == "->")
            fields >> kind;
        if (!(fields >> mode >> access >> pid >> file))
            continue;
        if (kind != "POSIX" && kind != "OFDLCK")
            continue;
        unsigned fileMajor = 0;
        unsigned fileMinor = 0;
        unsigned long fileInode = 0;
        char extra = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%lu%c", &fileMajor, &fileMinor, &fileInode, &extra) != 3)
            continue;
        if (fileMajor == major && fileMinor == minor && fileInode == inode)
            return true;
    }
    return false;
}
