#pragma once

#include <cstddef>
#include <string>

// The wire carries a path in 4096 bytes with its terminator, so a longer path can never be sent.
constexpr std::size_t MaxPathBytes = 4096;

bool isPathTooLong(const std::string& path);

// A hidden name is left out of hidden-skipping scans, except where the path mentions "wechat" (its data
// lives in hidden folders).
bool isHiddenSkipped(const std::string& path, const std::string& name);

// Lock files are never moved; desktop launchers under the home are not either.
bool isSkippedFileName(const std::string& name, bool skipDesktop);

// Whether key lies below folder (not merely beside it with a longer name).
bool isUnderFolder(const std::string& key, const std::string& folder);

// Entries kept when the home is removed while the settings stay selected.
bool isSettingsEntry(const std::string& key, const std::string& home);
