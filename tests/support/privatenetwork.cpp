#include "privatenetwork.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace MovantaTest {

namespace {

[[noreturn]] void skip(const std::string& why)
{
    std::fprintf(stderr, "SKIP: no private network namespace could be made (%s); this test will not run on the host's "
                         "network.\n",
                 why.c_str());
    std::fflush(stderr);
    std::_Exit(77);
}

bool writeFile(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

bool run(const char* const argv[])
{
    const pid_t pid = ::fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            ::dup2(devnull, STDOUT_FILENO);
        }
        ::execv(argv[0], const_cast<char* const*>(argv));
        std::_Exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const char* ipTool()
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(p, X_OK) == 0) {
            return p;
        }
    }
    return nullptr;
}

} // namespace

void enterPrivateNetwork()
{
    const char* ip = ipTool();
    if (!ip) {
        skip("the ip tool from iproute2 is missing");
    }
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNET) != 0) {
            skip(std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno));
        }
    } else {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            skip(std::string("unshare(CLONE_NEWUSER|CLONE_NEWNET): ") + std::strerror(errno));
        }
        writeFile("/proc/self/setgroups", "deny");
        if (!writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            skip("cannot map the user into the new user namespace");
        }
    }
    const char* up[] = {ip, "link", "set", "lo", "up", nullptr};
    const char* route[] = {ip, "route", "add", "default", "dev", "lo", "src", "127.0.0.1", nullptr};
    if (!run(up) || !run(route)) {
        skip("cannot bring up loopback in the new namespace");
    }
    ::setenv("MOVANTA_PRIVATE_NETWORK", "1", 1);
}

void useOffscreenPlatform()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

} // namespace MovantaTest
