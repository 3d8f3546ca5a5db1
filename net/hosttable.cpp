#include "net/hosttable.h"

std::mutex mutex;

std::size_t pruneHosts(HostTable& hosts, int64_t now)
{
    std::size_t removed = 0;
    for (auto it = hosts.begin(); it != hosts.end();) {
        if (now - it->second.lastSeen > HostTimeout) {
            it = hosts.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

bool recordAnnouncement(HostTable& hosts, const sockaddr_in& from, const Announcement& announcement, int64_t now)
{
    const unsigned key = from.sin_addr.s_addr;
    const auto known = hosts.find(key);
    if (known != hosts.end()) {
        known->second.lastSeen = now;
        return false;
    }
    while (hosts.size() >= MaxHosts) {
        auto oldest = hosts.begin();
        for (auto it = hosts.begin(); it != hosts.end(); ++it) {
            if (it->second.lastSeen < oldest->second.lastSeen) {
                oldest = it;
            }
        }
        hosts.erase(oldest);
    }
    PCItemInfo info;
    info.name = announcement.hostName;
    info.address = from;
    info.distro = announcement.distro;
    info.type = static_cast<int16_t>(announcement.type);
    info.lastSeen = now;
    info.capabilities = announcement.capabilities;
    hosts.emplace(key, info);
    return true;
}

void takeDatagram(HostTable& hosts, bool& hostsChanged, const char* data, long n, const sockaddr_in& from, int64_t now)
{
    Announcement announcement;
    const bool isAnnouncement = n >= 0 && Announcement::decode(data, static_cast<std::size_t>(n), announcement);
    std::lock_guard<std::mutex> lock(mutex);
    if (pruneHosts(hosts, now) > 0) {
        hostsChanged = true;
    }
    if (isAnnouncement && recordAnnouncement(hosts, from, announcement, now)) {
        hostsChanged = true;
    }
}
