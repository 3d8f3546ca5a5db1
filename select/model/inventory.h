#pragma once

#include <string>
#include <vector>

// Lower-case letters, digits, "+", "-" and "."; at least two characters, starting with a letter or a
// digit; optionally ":arch". Nothing else is ever put on a command line.
bool isValidPackageName(const std::string& name);

// One name per line-feed-terminated line of "apt-mark showmanual"; empty lines, a last line without a
// line feed and names that are not package names are dropped.
std::vector<std::string> parsePackageList(const std::string& output);

// The text up to the first line feed.
std::string firstLine(const std::string& text);

// The first line of "dpkg-query -L" output that names a desktop entry (ends in ".desktop"), or that names
// a PNG icon below /usr/share/icons; empty when there is none.
std::string firstDesktopEntry(const std::string& fileList);
std::string firstIconFile(const std::string& fileList);

// The display name of a desktop entry: the Chinese name if there is one, else the plain name; empty when
// the entry names neither.
std::string desktopEntryName(const std::string& entry);

// The value after "Icon=", if the entry has one.
bool desktopEntryIcon(const std::string& entry, std::string& value);
