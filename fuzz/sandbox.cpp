#include "fuzz/sandbox.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FuzzSandbox {

namespace {

bool fail(std::string& why, const std::string& what)
{
    why = what + ": " + std::strerror(errno);
    return false;
}

bool makePath(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool bindInto(const std::string& box, const std::string& from, bool readOnly, std::string& why)
{
    struct stat st;
    if (::stat(from.c_str(), &st) != 0) {
        return true; // not on this system
    }
    const std::string to = box + from;
    if (S_ISDIR(st.st_mode)) {
        if (!makePath(to)) {
            return fail(why, "mkdir " + to);
        }
    } else {
        const std::string folder = to.substr(0, to.rfind('/'));
        if (!makePath(folder)) {
            return fail(why, "mkdir " + folder);
        }
        std::ofstream(to).flush();
    }
    // Not recursive: the work folder holds the box itself.
    if (::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        return fail(why, "bind " + from);
    }
    if (readOnly && ::mount(nullptr, to.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | MS_NOSUID, nullptr) != 0) {
        return fail(why, "read-only " + from);
    }
    return true;
}

// /bin, /lib and friends are links into /usr on merged systems and folders elsewhere.
bool topLevelInto(const std::string& box, const char* name, std::string& why)
{
    const std::string from = std::string("/") + name;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) {
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(from.c_str(), target, sizeof(target) - 1);
        if (n < 0 || ::symlink(std::string(target, static_cast<std::size_t>(n)).c_str(), (box + from).c_str()) != 0) {
            return fail(why, "link " + from);
        }
        return true;
    }
    return bindInto(box, from, true, why);
}

bool writeTool(const std::string& path, const std::string& body, std::string& why)
{
    std::ofstream out(path);
    out << "#!/bin/sh\n"
        << "{ printf '%s' \"${0##*/}\"; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; echo; } >>" << ExecLog << "\n"
        << body;
    out.close();
    if (!out || ::chmod(path.c_str(), 0755) != 0) {
        return fail(why, "tool " + path);
    }
    return true;
}

} // namespace

bool enter(const std::string& box, const std::string& keep, std::string& why)
{
    if (::unshare(CLONE_NEWNS) != 0) {
        return fail(why, "unshare(CLONE_NEWNS)");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return fail(why, "private mounts");
    }
    if (!makePath(box) || ::mount("tmpfs", box.c_str(), "tmpfs", 0, "size=256m,mode=0755") != 0) {
        return fail(why, "tmpfs " + box);
    }
    for (const char* name : {"bin", "sbin", "lib", "lib32", "lib64", "libx32", "usr", "etc"}) {
        if (!topLevelInto(box, name, why)) {
            return false;
        }
    }
    if (!bindInto(box, "/proc", true, why) || !bindInto(box, "/sys", true, why)) {
        return false;
    }
    // Only the harmless devices; a receiver that went astray must not reach a disk.
    for (const char* device : {"/dev/null", "/dev/zero", "/dev/urandom", "/dev/random"}) {
        if (!bindInto(box, device, false, why)) {
            return false;
        }
    }
    if (!bindInto(box, keep, false, why)) {
        return false;
    }
    for (const std::string& folder : {std::string(Home), std::string(FakeTools), std::string("/data"),
             std::string(Sentinel) + "/deep/er", std::string("/tmp")}) {
        if (!makePath(box + folder)) {
            return fail(why, "mkdir " + folder);
        }
    }
    {
        std::ofstream(box + Sentinel + "/secret") << "untouched\n";
        std::ofstream(box + Sentinel + "/deep/er/.bashrc") << "alias ls='ls -F'\n";
        std::ofstream(box + "/etc-hosts-copy") << "127.0.0.1 localhost\n";
    }

    // Package tools that only log: the availability list names hostile packages too, so a check that
    // relies on the repository alone would let them through to the installer.
    const std::string tools = box + FakeTools + "/";
    const std::string apt = "if [ \"$1\" = list ]; then printf 'Listing...\\n';"
                            " for p in hello vim-tiny -x /a.deb 'a;b' '$(id)' '`id`' 'a b'; do"
                            " printf '%s/stable 1.0 amd64\\n' \"$p\"; done; fi\n";
    if (!writeTool(tools + "apt", apt, why)) {
        return false;
    }
    for (const char* name : {"pkexec", "apt-get", "apt-mark", "dpkg-query", "pgrep", "bash", "sh", "cp", "chmod",
             "mkdir", "grep", "rm", "xdg-open", "touch", "id"}) {
        if (!writeTool(tools + name, "exit 0\n", why)) {
            return false;
        }
    }

    if (::chroot(box.c_str()) != 0 || ::chdir("/") != 0) {
        return fail(why, "chroot " + box);
    }
    return true;
}

} // namespace FuzzSandbox
