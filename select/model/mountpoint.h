#pragma once

#include <string>

// A disk offered for browsing; only the mount path is used. The path comes first: the list's search
// reads a row's model as its leading text.
struct MountPoint
{
    std::string path;
    std::string device;
    std::string type;
};
