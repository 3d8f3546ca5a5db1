#pragma once

#include <cstdint>
#include <string>

// Whether a TCP connection to "host" or "host:port" can be made within timeoutMs. The socket is closed at
// once; nothing is sent.
bool canReachHost(const std::string& hostText, uint16_t defaultPort, int timeoutMs);
