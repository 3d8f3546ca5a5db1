#include "connect/install/installerprocess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// How often an ended program is looked for while something it started may still hold its output open.
constexpr int ReapCheckMs = 20;
// How long a stopped program gets for each of SIGTERM and SIGKILL.
constexpr int StopGraceMs = 1000;

void closeDescriptor(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

InstallerProcess::~InstallerProcess()
{
    stop();
}

bool InstallerProcess::start(const std::vector<std::string>& argv, const std::string& setting, std::string& error)
{
    stop();
    if (argv.empty()) {
        error = std::strerror(EINVAL);
        return false;
    }
    // The input is a socket, so that answering a program that has closed it can never raise SIGPIPE here.
    int inputPair[2];
    int outputPipe[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inputPair) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(inputPair[0]);
        ::close(inputPair[1]);
        return false;
    }
    input = inputPair[0];
    output = outputPipe[0];

    const std::string name = setting.substr(0, setting.find('=') + 1);
    std::vector<char*> environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (name.empty() || std::strncmp(*entry, name.c_str(), name.size()) != 0) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(const_cast<char*>(setting.c_str()));
    environment.push_back(nullptr);

    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputPair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
    // This process may ignore SIGPIPE or block signals on its thread; the installer starts with the defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(inputPair[1]);
    ::close(outputPipe[1]);
    if (spawned != 0) {
        pid = -1;
        error = std::strerror(spawned);
        closePipes();
        return false;
    }
    ended = false;
    setNonBlocking(input);
    setNonBlocking(output);
    return true;
}

bool InstallerProcess::waitForFinished(int timeoutMs, std::string& text)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (reap()) {
            readAvailable(text);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        // The end of the program itself shows in the pipe only when nothing it started keeps it open.
        pollfd watched {output, POLLIN, 0};
        const int step = static_cast<int>(std::min<long long>(left, ReapCheckMs));
        if (::poll(&watched, output >= 0 ? 1 : 0, step) > 0) {
            readAvailable(text);
        }
    }
}

void InstallerProcess::write(const std::string& text)
{
    if (input >= 0) {
        // A program that does not read its input gets no more than the socket holds.
        (void)::send(input, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

void InstallerProcess::stop()
{
    for (int sig : {SIGTERM, SIGKILL}) {
        if (ended) {
            break;
        }
        ::kill(pid, sig);
        for (int waited = 0; waited < StopGraceMs && !reap(); waited += ReapCheckMs) {
            ::usleep(ReapCheckMs * 1000);
        }
    }
    // A program this process may not signal (pkexec made it root) goes on alone, and without its input and
    // output: it is not waited for.
    ended = true;
    pid = -1;
    closePipes();
}

bool InstallerProcess::reap()
{
    if (ended) {
        return true;
    }
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) {
        ended = true;
        pid = -1;
    }
    return ended;
}

void InstallerProcess::readAvailable(std::string& text)
{
    char piece[4096];
    while (output >= 0) {
        const ssize_t got = ::read(output, piece, sizeof piece);
        if (got > 0) {
            text.append(piece, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                closeDescriptor(output);
            }
            return;
        }
    }
}

void InstallerProcess::closePipes()
{
    closeDescriptor(input);
    closeDescriptor(output);
}
