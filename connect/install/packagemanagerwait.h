#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

// Waits until no other package manager (apt, dpkg, a software centre) is at work, asking dpkg's lock files
// as apt itself does instead of looking at process names, which any user's process may carry.
class PackageManagerWait
{
public:
    enum class Outcome {
        Free, // no lock held: the installer may start
        Stopped, // the stop flag was set
        GaveUp, // the locks stayed held for longer than the limit
    };

    // Takes the lock files and the limit in force now.
    PackageManagerWait();

    // Blocks until the locks are free, the stop flag is set (noticed within about 50 ms) or the limit passes.
    Outcome wait(const std::atomic<bool>* stop) const;

    static const std::vector<std::string>& defaultLockFiles();
    static constexpr std::chrono::milliseconds DefaultLimit {10 * 60 * 1000};

    // Test hooks: the files asked and the longest wait of every wait made afterwards. Set them before
    // any installation runs; they are not meant to change while one waits.
    static void setLockFiles(const std::vector<std::string>& files);
    static void setLimit(std::chrono::milliseconds limit);
    static void restoreDefaults();

private:
    std::vector<std::string> lockFiles;
    std::chrono::milliseconds limit;
};

// Whether some process holds a record lock on the file that would keep apt from taking its write lock.
// As root (or whoever may open the file) the lock is asked directly; otherwise the kernel's lock table
// (/proc/locks) is searched for the file. A file that does not exist is not locked; a table that cannot be
// read counts as no lock, since nothing else can be asked then.
bool isLockFileHeld(const std::string& path);

// Whether the kernel's lock table (the text of /proc/locks) holds a POSIX or open-file-description lock on
// the file with this device (major, minor) and inode.
bool lockTableHolds(const std::string& table, unsigned major, unsigned minor, unsigned long inode);
