#pragma once

#include <cstdint>
#include <string>

// Where a file announced by the sender goes on this computer.
struct Destination
{
    std::string path;
    // False when the sender's path must not be written anywhere (it climbs out with "..", has no file
    // name, or would land outside the home or the shared folder); the content is then read and dropped.
    bool allowed = false;
    // True for a desktop entry that should start its application when opened (see isLauncherPlace).
    bool executable = false;
};

// Maps the sender's absolute path onto this computer: the part after the sender's home prefix goes below
// `home` ("." when empty), "/data/home/<user>/..." goes below `home` whoever the user was, and
// "/data/usershare/..." keeps its absolute place.
Destination destinationFor(const std::string& senderPath, uint32_t homePrefixLength, const std::string& home);

// True when a received file at `path` is a desktop entry the desktop shows as a launcher: its name ends in
// ".desktop" and it lies straight in the desktop folder (`home`/桌面 or `home`/Desktop) or in the
// applications folder (`home`/.local/share/applications). Such files are made executable; no other is.
bool isLauncherPlace(const std::string& path, const std::string& home);

// True when `path` names something strictly below `root`, compared by components after dropping "." and
// empty ones ("/home/bob2" is not below "/home/bob"). Both must be absolute or both relative; a ".."
// component in either makes the answer false.
bool isInside(const std::string& path, const std::string& root);

// True when one of the components of `path` is "..".
bool hasParentComponent(const std::string& path);
