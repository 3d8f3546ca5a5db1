#pragma once

#include <string>

struct ifaddrs;

// The host name as the announcement carries it: at most 31 bytes.
std::string getAnnouncedHostName();

// The IPv4 address to show for this computer, in dotted decimal: the last address of the interface list
// that is not loopback, else the last loopback one, else empty.
std::string getDisplayAddress(const ifaddrs* list);
// The same over the system's current interface list.
std::string getDisplayAddress();
