#pragma once

#include <string>

// The quoted value of the first NAME="..." line of the os-release file, or empty when the file cannot be
// read or has no such line.
std::string getdistroname(const std::string& path = "/etc/os-release");
