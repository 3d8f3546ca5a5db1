#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include <netinet/in.h>

#include "net/announcement.h"
#include "net/pciteminfo.h"

// The receivers heard recently, keyed by the announcement's source IPv4 address as stored in the socket
// address (network byte order read as one value).
using HostTable = std::unordered_map<unsigned, PCItemInfo>;

// Guards every table of receivers and its change flag: the listener thread writes, the sender page's timer
// reads.
extern std::mutex mutex;

// Seconds of silence after which a receiver is forgotten (removed when now - lastSeen exceeds it).
constexpr int64_t HostTimeout = 3;

// Most receivers the table keeps: spoofed announcements from many addresses must not grow it without end.
constexpr std::size_t MaxHosts = 64;

// The caller holds `mutex` for these two. pruneHosts removes every entry silent for more than HostTimeout
// and returns how many went. recordAnnouncement adds a receiver heard for the first time (true; when the
// table is full the entry heard longest ago makes room) or only refreshes lastSeen of a known one, whose
// other fields stay as first heard (false: nothing a card shows has changed).
std::size_t pruneHosts(HostTable& hosts, int64_t now);
bool recordAnnouncement(HostTable& hosts, const sockaddr_in& from, const Announcement& announcement, int64_t now);

// One turn of the listener, under `mutex`: prunes, then takes the datagram of n bytes (n < 0: none arrived)
// if it is an announcement. Sets hostsChanged when an entry was added or removed.
void takeDatagram(HostTable& hosts, bool& hostsChanged, const char* data, long n, const sockaddr_in& from, int64_t now);
