#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

// A receiver written out by hand for the engine tests: it listens on 127.0.0.1, accepts one connection
// and runs a script on its own thread, reading the raw bytes exactly as they travel.
class ScriptedReceiver
{
public:
    using Script = std::function<void(ScriptedReceiver&)>;

    // Port 0 picks a free one; a test in its private network may take the receiver's own port.
    explicit ScriptedReceiver(uint16_t port = 0);
    ~ScriptedReceiver();

    sockaddr_in address() const { return listenAddress; }
    // Accepts the next connection (ending the previous one) and runs script on it.
    void run(Script script);
    // Runs script on the current connection once the previous script has returned.
    void then(Script script);
    // Waits for the script to return.
    void finish();

    // Raw bytes, waiting at most 10 s; fewer come back only when the peer closed or the wait ran out.
    std::string readRaw(std::size_t n);
    bool writeRaw(const std::string& bytes);
    // Reads one unit and removes the XOR layer from it, key position 0 at its first byte.
    std::string readUnit(std::size_t n);
    bool writeUnit(const std::string& bytes);
    // True when at least n bytes wait to be read within waitMs; takes nothing out of the stream.
    bool waitPending(std::size_t n, int waitMs = 10000);
    // Makes the socket's receive and send buffers small (the kernel's least), so a sender meets full
    // buffers at once.
    void shrinkBuffers();
    // Closes the connection with a reset, as a crashed or vanished peer would.
    void abort();
    // True when the peer closed its end (end of stream) within 10 s.
    bool peerClosed();

    std::vector<char> key;

private:
    int listenFd = -1;
    int fd = -1;
    sockaddr_in listenAddress {};
    std::thread thread;
};

// The XOR layer applied to bytes that one Send or Recv call carried.
std::string keyed(std::string bytes, const std::vector<char>& key);
// Content as the receiver reads it: every unit of at most 1024 bytes keyed from position 0.
std::string unkeyContent(const std::string& raw, const std::vector<char>& key);
