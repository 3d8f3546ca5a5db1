#include "common/localaddress.h"

#include <cstring>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

std::string getAnnouncedHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0) {
        return std::string();
    }
    return std::string(name, ::strnlen(name, 31));
}

std::string getDisplayAddress(const ifaddrs* list)
{
    std::string external;
    std::string loopback;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text));
        // A sender cannot reach loopback; it is shown only when there is nothing else.
        if ((ntohl(address->sin_addr.s_addr) >> 24) == 127) {
            loopback = text;
        } else {
            external = text;
        }
    }
    return external.empty() ? loopback : external;
}

std::string getDisplayAddress()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return std::string();
    }
    const std::string text = getDisplayAddress(list);
    ::freeifaddrs(list);
    return text;
}
