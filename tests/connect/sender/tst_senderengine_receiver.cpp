#include "tst_senderengine_receiver.h"

#include <cerrno>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int WaitMs = 10000;

} // namespace

std::string keyed(std::string bytes, const std::vector<char>& key)
{
    if (!key.empty()) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
        }
    }
    return bytes;
}

std::string unkeyContent(const std::string& raw, const std::vector<char>& key)
{
    std::string plain;
    for (std::size_t at = 0; at < raw.size(); at += 1024) {
        plain += keyed(raw.substr(at, 1024), key);
    }
    return plain;
}

ScriptedReceiver::ScriptedReceiver(uint16_t port)
{
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    listenAddress.sin_family = AF_INET;
    listenAddress.sin_port = htons(port);
    listenAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd, reinterpret_cast<sockaddr*>(&listenAddress), sizeof(listenAddress));
    socklen_t length = sizeof(listenAddress);
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&listenAddress), &length);
    ::listen(listenFd, 1);
}

ScriptedReceiver::~ScriptedReceiver()
{
    finish();
    if (fd >= 0) {
        ::close(fd);
    }
    ::close(listenFd);
}

void ScriptedReceiver::run(Script script)
{
    finish();
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    thread = std::thread([this, script] {
        pollfd p {listenFd, POLLIN, 0};
        if (::poll(&p, 1, WaitMs) != 1) {
            return;
        }
        fd = ::accept(listenFd, nullptr, nullptr);
        if (fd >= 0) {
            script(*this);
        }
    });
}

void ScriptedReceiver::then(Script script)
{
    finish();
    thread = std::thread([this, script] {
        if (fd >= 0) {
            script(*this);
        }
    });
}

void ScriptedReceiver::finish()
{
    if (thread.joinable()) {
        thread.join();
    }
}

std::string ScriptedReceiver::readRaw(std::size_t n)
{
    std::string bytes;
    char chunk[65536];
    while (bytes.size() < n && fd >= 0) {
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, WaitMs) != 1) {
            break;
        }
        const ssize_t r = ::recv(fd, chunk, std::min(sizeof(chunk), n - bytes.size()), 0);
        if (r <= 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(r));
    }
    return bytes;
}

bool ScriptedReceiver::writeRaw(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t r = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (r <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(r);
    }
    return true;
}

std::string ScriptedReceiver::readUnit(std::size_t n)
{
    return keyed(readRaw(n), key);
}

bool ScriptedReceiver::writeUnit(const std::string& bytes)
{
    return writeRaw(keyed(bytes, key));
}

bool ScriptedReceiver::waitPending(std::size_t n, int waitMs)
{
    std::string peeked(n, '\0');
    for (int waited = 0; fd >= 0 && waited < waitMs; waited += 5) {
        const ssize_t r = ::recv(fd, &peeked[0], n, MSG_PEEK | MSG_DONTWAIT);
        if (r >= 0 && static_cast<std::size_t>(r) >= n) {
            return true;
        }
        if (r == 0) {
            return false;
        }
        pollfd p {fd, 0, 0};
        ::poll(&p, 1, 5);
    }
    return false;
}

void ScriptedReceiver::shrinkBuffers()
{
    const int small = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
}

void ScriptedReceiver::abort()
{
    if (fd >= 0) {
        linger off {1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof(off));
        ::close(fd);
        fd = -1;
    }
}

bool ScriptedReceiver::peerClosed()
{
    pollfd p {fd, POLLIN, 0};
    if (::poll(&p, 1, WaitMs) != 1) {
        return false;
    }
    char byte;
    return ::recv(fd, &byte, 1, 0) == 0;
}
