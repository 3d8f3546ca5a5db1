#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <netinet/in.h>

#include "net/tcpclient.h"

namespace NetTest {

// Owns one descriptor of a test.
class Fd
{
public:
    explicit Fd(int fd = -1);
    ~Fd();
    Fd(Fd&& other) noexcept;
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd; }
    void reset(int value = -1);
    int release();

private:
    int fd;
};

// A listening socket on 127.0.0.1 with a port chosen by the system.
Fd listenOnLoopback(sockaddr_in& address);

// outgoing is connected the program's way (Connect: non-blocking, no delay); peer is the raw accepted
// socket, blocking, so a test sees exactly the bytes on the wire.
bool connectRaw(TCP::Client& outgoing, Fd& peer);
// Both ends as the program has them: the sender's outgoing client and the receiver's accepted one.
bool connectPair(TCP::Client& outgoing, TCP::Client& accepted);

// Reads exactly n bytes from a raw socket, waiting at most timeoutMs in all; shorter when it times out.
std::string readRaw(int fd, std::size_t n, int timeoutMs = 5000);
bool writeRaw(int fd, const std::string& bytes);

// Bytes 0, 1, 2, ... 255, 0, 1, ... of the given length.
std::string pattern(std::size_t n, unsigned seed = 0);

} // namespace NetTest
