#include "connect/sender/installreport.h"

#include <limits>

namespace {

uint64_t saturatingMultiply(uint64_t value, uint64_t factor)
{
    if (value != 0 && factor > std::numeric_limits<uint64_t>::max() / value) {
        return std::numeric_limits<uint64_t>::max();
    }
    return value * factor;
}

bool contains(const std::string& text, char c)
{
    return text.find(c) != std::string::npos;
}

} // namespace

uint64_t installedSizeBytes(const std::string& sizeText)
{
    uint64_t value = 0;
    for (char c : sizeText) {
        if (c < '0' || c > '9') {
            break;
        }
        value = saturatingMultiply(value, 10);
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        value = value > std::numeric_limits<uint64_t>::max() - digit ? std::numeric_limits<uint64_t>::max()
                                                                     : value + digit;
    }
    // dpkg gives KiB without a unit; the order of the tests matters for texts such as "KB".
    if (contains(sizeText, 'K')) {
        return saturatingMultiply(value, 1024);
    }
    if (!contains(sizeText, 'B')) {
        return saturatingMultiply(value, 1024);
    }
    if (contains(sizeText, 'M')) {
        return saturatingMultiply(value, 1048576);
    }
    if (contains(sizeText, 'G')) {
        return saturatingMultiply(value, 1073741824);
    }
    return value;
}

std::vector<InstalledApp> parseInstallReport(const std::string& report)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < report.size()) {
        std::size_t end = report.find('\n', start);
        if (end == std::string::npos) {
            end = report.size();
        }
        lines.push_back(report.substr(start, end - start));
        start = end + 1;
    }

    std::vector<InstalledApp> apps;
    std::size_t i = 0;
    while (i < lines.size()) {
        if (lines[i].empty()) {
            ++i;
            continue;
        }
        InstalledApp app;
        app.name = lines[i++];
        const std::string sizeText = i < lines.size() ? lines[i++] : std::string();
        app.size = installedSizeBytes(sizeText);
        if (app.size == 0) {
            app.size = app.name.size();
        }
        apps.push_back(std::move(app));
    }
    return apps;
}
