// Feeds arbitrary bytes to the receiver engine as a connected sender would, inside a throw-away root, and
// turns every broken rule into a crash: writes outside the home and the shared folder, a command run that
// is not a package tool, a hostile package name on the installer's command line, a temporary file left
// behind, a leaked descriptor, a progress value outside 0..100.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <dirent.h>
#include <ftw.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/packagename.h"
#include "connect/receiver/receiverengine.h"
#include "connect/receiver/receiverevents.h"
#include "fuzz/sandbox.h"
#include "net/tcpclient.h"
#include "privatenetwork.h"

namespace {

const char* const Code = "123456";
// Enough for every step a valid input of the allowed length can need; a throttled pairing spins the rest.
constexpr int MaxSteps = 4096;

[[noreturn]] void violation(const std::string& what)
{
    std::fprintf(stderr, "\nRECEIVER FUZZ VIOLATION: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

class CheckedEvents : public ReceiverEvents
{
public:
    int shownPage() const override { return page; }
    void showPage(int index) override
    {
        if (index != 1 && index != 2) {
            violation("page index " + std::to_string(index));
        }
        page = index;
    }
    void transferStarted() override { }
    void stageChanged(int stage) override
    {
        if (stage < 2 || stage > 4) {
            violation("stage " + std::to_string(stage));
        }
    }
    void progressChanged(int percent) override
    {
        if (percent < 0 || percent > 100) {
            violation("progress " + std::to_string(percent));
        }
    }
    void itemChanged(const std::string&) override { }
    void workChanged(const std::string&) override { }
    void finished(int code) override
    {
        if (code != 0 && code != 1) {
            violation("finished with " + std::to_string(code));
        }
    }

private:
    int page = 0;
};

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : fd(fd) { }
    ~Descriptor()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

// The sender's end: writes the input while draining whatever the receiver answers, then half-closes and
// reads until the receiver closes, so neither side can block the other.
void feed(int fd, const uint8_t* data, std::size_t size)
{
    std::size_t written = 0;
    bool halfClosed = false;
    char sink[4096];
    for (;;) {
        if (!halfClosed && written == size) {
            ::shutdown(fd, SHUT_WR);
            halfClosed = true;
        }
        pollfd p {fd, static_cast<short>(POLLIN | (halfClosed ? 0 : POLLOUT)), 0};
        if (::poll(&p, 1, -1) < 0) {
            return;
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, sink, sizeof(sink), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                return;
            }
        }
        if (!halfClosed && (p.revents & POLLOUT)) {
            const std::size_t chunk = std::min<std::size_t>(size - written, 65536);
            const ssize_t n = ::send(fd, data + written, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }
}

// Joins the feeder however the run ends.
class FeederThread
{
public:
    FeederThread(int fd, const uint8_t* data, std::size_t size) : thread(feed, fd, data, size) { }
    ~FeederThread() { thread.join(); }
    FeederThread(const FeederThread&) = delete;
    FeederThread& operator=(const FeederThread&) = delete;

private:
    std::thread thread;
};

bool below(const std::string& path, const std::string& root)
{
    return path == root
        || (path.compare(0, root.size(), root) == 0 && path.size() > root.size() && path[root.size()] == '/');
}

std::string contentOf(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Everything on the box's own file system that the receiver has no business changing.
std::map<std::string, std::string>* walked = nullptr;

int note(const char* path, const struct stat* st, int type, FTW*)
{
    const std::string p(path);
    if (below(p, FuzzSandbox::Home) || below(p, FuzzSandbox::Shared) || p == FuzzSandbox::ExecLog) {
        return 0;
    }
    // A folder's size follows its entries, which are walked themselves.
    std::string what = std::to_string(st->st_mode);
    if (type == FTW_F && S_ISREG(st->st_mode)) {
        what += ":" + std::to_string(st->st_size) + ":" + std::to_string(std::hash<std::string> {}(contentOf(path)));
    }
    (*walked)[p] = what;
    return 0;
}

std::map<std::string, std::string> snapshot()
{
    std::map<std::string, std::string> tree;
    walked = &tree;
    ::nftw("/", note, 32, FTW_PHYS | FTW_MOUNT);
    walked = nullptr;
    return tree;
}

int removeEntry(const char* path, const struct stat*, int, FTW* at)
{
    if (at->level > 0) {
        ::remove(path);
    }
    return 0;
}

void emptyFolder(const char* path)
{
    ::nftw(path, removeEntry, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

int countLeftovers(const char* path, const struct stat*, int type, FTW* at)
{
    const char* name = path + at->base;
    if (type == FTW_F && std::strncmp(name, ".movanta-", 9) == 0) {
        violation(std::string("temporary file left behind: ") + path);
    }
    return 0;
}

std::size_t openDescriptors()
{
    std::size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) {
            ++n;
        }
        ::closedir(dir);
    }
    return n;
}

// The fake tools log "name [arg] [arg]...".
std::vector<std::string> bracketed(const std::string& line)
{
    std::vector<std::string> args;
    const std::size_t at = line.find(" [");
    if (at == std::string::npos || line.back() != ']') {
        return args;
    }
    const std::string rest = line.substr(at + 2, line.size() - at - 3);
    for (std::size_t start = 0;;) {
        const std::size_t separator = rest.find("] [", start);
        args.push_back(rest.substr(start, separator - start));
        if (separator == std::string::npos) {
            return args;
        }
        start = separator + 3;
    }
}

void checkInstallerLine(const std::string& line)
{
    const std::string lead = "apt update && ACCEPT_EULA=Y apt-get install -y --no-install-recommends ";
    const std::vector<std::string> args = bracketed(line);
    if (args.size() != 3 || args[0] != "bash" || args[1] != "-c" || args[2].compare(0, lead.size(), lead) != 0) {
        violation("unexpected installer command: " + line);
    }
    std::istringstream names(args[2].substr(lead.size()));
    std::string name;
    while (names >> name) {
        if (!isValidPackageName(name)) {
            violation("hostile package name reached pkexec: " + name);
        }
    }
}

// The tools the installation may run; anything else (a shell, touch, id...) means text from the network
// became a command.
void checkExecutions()
{
    static const std::set<std::string> allowed {
        "pkexec", "apt", "apt-get", "apt-mark", "dpkg-query", "pgrep", "grep", "cp", "chmod"};
    std::ifstream log(FuzzSandbox::ExecLog);
    std::string line;
    while (std::getline(log, line)) {
        const std::string tool = line.substr(0, line.find(' '));
        if (!allowed.count(tool)) {
            violation("command run: " + line);
        }
        if (tool == "pkexec") {
            checkInstallerLine(line);
        }
        if (tool == "dpkg-query") {
            const std::vector<std::string> args = bracketed(line);
            if (args.size() != 2 || !isValidPackageName(args[1])) {
                violation("hostile dpkg-query: " + line);
            }
        }
    }
    log.close();
    std::ofstream(FuzzSandbox::ExecLog, std::ios::trunc).flush();
}

std::map<std::string, std::string>* baseline = nullptr;
std::size_t baselineDescriptors = 0;

void checkSurroundings()
{
    const std::map<std::string, std::string> now = snapshot();
    if (now != *baseline) {
        for (const auto& [path, what] : now) {
            auto was = baseline->find(path);
            if (was == baseline->end() || was->second != what) {
                violation("written outside the home: " + path);
            }
        }
        violation("removed outside the home");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    MovantaTest::enterPrivateNetwork();
    const char* work = std::getenv("MOVANTA_FUZZ_WORK");
    char cwd[4096];
    const std::string keep = work ? work : (::getcwd(cwd, sizeof(cwd)) ? cwd : "/tmp");
    std::string why;
    if (!FuzzSandbox::enter(keep + "/box", keep, why)) {
        std::fprintf(stderr, "SKIP: cannot build the fuzzing sandbox (%s)\n", why.c_str());
        std::_Exit(77);
    }
    ::setenv("HOME", FuzzSandbox::Home, 1);
    ::setenv("PATH", FuzzSandbox::FakeTools, 1);
    ::umask(022);
    if (::chdir(FuzzSandbox::Home) != 0) {
        std::_Exit(77);
    }
    baseline = new std::map<std::string, std::string>(snapshot());
    baselineDescriptors = openDescriptors();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            violation("socketpair");
        }
        Descriptor senderEnd(ends[1]);
        FeederThread feeder(senderEnd.get(), data, size);
        TCP::Client client = TCP::Client::accepted(ends[0]);
        CheckedEvents events;
        ReceiverEngine engine(Code, events);
        // A step only when there is something to read (or the end): the engine does not wait between
        // steps, and the bound must not run out before the feeder has written.
        for (int step = 0; step < MaxSteps && client.state == TCP::Connected; ++step) {
            if (!client.WaitReadable(2000)) {
                violation("the sender's bytes never arrived");
            }
            engine.connected(&client);
        }
        client.Close(); // ends the feeder's wait
    }

    ::nftw(FuzzSandbox::Home, countLeftovers, 32, FTW_PHYS | FTW_MOUNT);
    ::nftw(FuzzSandbox::Shared, countLeftovers, 32, FTW_PHYS | FTW_MOUNT);
    checkExecutions();
    checkSurroundings();
    if (openDescriptors() != baselineDescriptors) {
        violation("descriptor leaked");
    }
    emptyFolder(FuzzSandbox::Home);
    emptyFolder("/data");
    return 0;
}
