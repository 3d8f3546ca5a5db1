#pragma once

#include <string>

// Six decimal digits, leading zeros kept, drawn from the kernel's random source: anyone on the network
// could otherwise work the code out from the time the program started.
std::string getPairingCode();
