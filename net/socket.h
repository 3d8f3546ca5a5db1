#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <netinet/in.h>

namespace Socket {

// The 64-bit 1 handed by address to setsockopt and ioctl wherever an option is switched on.
extern const uint64_t OptVal;

// "host" or "host:port" (the port read as decimal digits into 16 bits) resolved to an IPv4 address with the
// given default port, stored in network byte order. Returns false and leaves 0.0.0.0:0 when the name cannot
// be resolved; never ends the process.
bool resolveAddress(const char* text, uint16_t defaultPort, sockaddr_in& out);

// Dotted decimal of an IPv4 socket address, first octet first.
std::string addressText(const sockaddr_in& address);

// Waits at most timeoutMs for the descriptor to become readable (or writable). True when it is, or when
// the socket has an error or hang-up pending, so the caller's next call reports it.
bool waitReadable(int fd, int timeoutMs);
bool waitWritable(int fd, int timeoutMs);

// Small messages must not wait on Nagle's algorithm.
void setNoDelay(int fd);

// The XOR layer: byte i of data is XORed with key byte i mod key length, counting from the start of data.
// An empty key leaves the bytes unchanged.
void applyKey(char* data, std::size_t n, const std::vector<char>& key);

// Fills `pad` with the key repeated from key position 0 (the bytes applyKey XORs with). The key must not
// be empty.
void fillKeyPad(char* pad, std::size_t length, const std::vector<char>& key);

} // namespace Socket
