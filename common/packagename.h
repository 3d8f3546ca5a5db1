#pragma once

#include <string>
#include <vector>

// Package names arrive from the network and end up on command lines, so only names that Debian itself
// accepts are let through (isValidPackageName, shared with the sender's inventory): none of their
// characters means anything to the shell.
#include "select/model/inventory.h"

// The names of a received application list: every text followed by one space, in order. Text after the
// last space is not a name.
std::vector<std::string> getListedNames(const std::string& receivedList);
