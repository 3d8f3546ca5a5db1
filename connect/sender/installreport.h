#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The receiver's installation report: a name line and a size line per installed package.
struct InstalledApp
{
    std::string name;
    uint64_t size = 0; // bytes; the name's length when the report gave no size
};

// Installed size text to bytes: its leading decimal number, read as KiB when it says "K" or carries no
// unit at all ("12345" is 12641280), as MiB with "MB", GiB with "GB", bytes with a plain "B".
uint64_t installedSizeBytes(const std::string& sizeText);

// Every package in the order the report lists it; empty lines and failure lines before a name are skipped.
std::vector<InstalledApp> parseInstallReport(const std::string& report);

// A report line that names no package but says why nothing was installed: "!" and the reason. No package
// name begins with "!", so it never reads as one here (an older sender lists it as one more name).
std::string installFailureLine(const std::string& reason);

// The reason of the report's first failure line; empty when the report has none.
std::string installFailureReason(const std::string& report);

// The reason the receiver gives when other package managers kept dpkg locked for too long.
extern const char* const OtherPackageManagerReason;
