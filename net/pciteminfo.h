#pragma once

#include <cstdint>
#include <string>

#include <netinet/in.h>

#include <QMetaType>

// One receiver heard on the network; travels by value through signals.
struct PCItemInfo
{
    std::string name;
    sockaddr_in address {};
    std::string distro;
    int16_t type = 0;
    int64_t lastSeen = 0;
    // CapabilityMark bits of its announcement: what may be sent to it beyond the protocol.
    uint32_t capabilities = 0;
};

Q_DECLARE_METATYPE(PCItemInfo)
