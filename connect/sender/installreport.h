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

// Every package in the order the report lists it; empty lines before a name are skipped.
std::vector<InstalledApp> parseInstallReport(const std::string& report);
