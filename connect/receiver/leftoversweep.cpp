#include "connect/receiver/leftoversweep.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string Stem = ".movanta-";

std::string executableOf(const std::string& process, int* error)
{
    char buffer[4096];
    const ssize_t n = ::readlink(("/proc/" + process + "/exe").c_str(), buffer, sizeof(buffer));
    if (n < 0) {
        *error = errno;
        return std::string();
    }
    *error = 0;
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Seconds since 1970 at which the process started, or -1 when unknown.
long long startOf(const std::string& process)
{
    std::ifstream statFile("/proc/" + process + "/stat");
    std::string line;
    if (!std::getline(statFile, line)) {
        return -1;
    }
    // The name may hold spaces and parentheses: fields are counted from the last ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22) {
            startTicks = std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    std::ifstream kernel("/proc/stat");
    long long boot = -1;
    while (std::getline(kernel, line)) {
        if (line.compare(0, 6, "btime ") == 0) {
            boot = std::atoll(line.c_str() + 6);
        }
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (boot < 0 || ticks <= 0) {
        return -1;
    }
    return boot + static_cast<long long>(startTicks / static_cast<unsigned long long>(ticks));
}

} // namespace

std::string LeftoverSweep::prefix()
{
    // Asked for every file received; the process never changes its number.
    static const std::string own = Stem + std::to_string(::getpid()) + "-";
    return own;
}

bool LeftoverSweep::isDead(const std::string& folder, const std::string& name)
{
    if (name.compare(0, Stem.size(), Stem) != 0) {
        return false;
    }
    const std::size_t dash = name.find('-', Stem.size());
    const std::string process = name.substr(Stem.size(), dash == std::string::npos ? 0 : dash - Stem.size());
    if (process.empty() || process.size() > 10 || process.find_first_not_of("0123456789") != std::string::npos) {
        return false; // not named by this scheme: whose it is cannot be told
    }
    if (process == std::to_string(::getpid())) {
        return false;
    }
    int error = 0;
    const std::string theirs = executableOf(process, &error);
    if (error == ENOENT) {
        return true;
    }
    if (error != 0) {
        return false; // another user's process: left alone
    }
    const std::string ours = executableOf("self", &error);
    if (theirs != ours) {
        return true; // the id went to another program
    }
    struct stat file;
    if (::lstat((folder + "/" + name).c_str(), &file) != 0) {
        return false;
    }
    // The same program under a reused id started after the file's last change cannot have made it.
    const long long started = startOf(process);
    return started >= 0 && started > static_cast<long long>(file.st_ctim.tv_sec) + 1;
}

int LeftoverSweep::removeDead(const std::string& folder)
{
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.compare(0, Stem.size(), Stem) == 0 && isDead(folder, name)) {
            struct stat st;
            const std::string path = folder + "/" + name;
            // Only plain files: a folder or a link of that name is nobody's temporary file.
            if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) {
                ++removed;
            }
        }
    }
    return removed;
}

void LeftoverSweep::sweep(const std::string& folder)
{
    if (swept.insert(folder).second) {
        removeDead(folder);
    }
}

void LeftoverSweep::clear()
{
    swept.clear();
}
