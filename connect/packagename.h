#pragma once

#include <string>
#include <vector>

// Package names arrive from the network and end up on command lines, so only names that Debian itself
// accepts are let through: lower-case letters, digits, "+", "-" and ".", at least two characters,
// beginning with a letter or digit, with an optional ":arch" suffix. None of these characters means
// anything to the shell.
bool isValidPackageName(const std::string& name);

// The names of a received application list: every text followed by one space, in order. Text after the
// last space is not a name.
std::vector<std::string> getListedNames(const std::string& receivedList);
