#include "connect/install/installprogress.h"

#include <algorithm>

InstallProgress::InstallProgress(int startValue) : start(std::clamp(startValue, 0, 100)), current(start) { }

std::optional<int> InstallProgress::advance(int installerPercent)
{
    const int mapped = start + (100 - start) * std::clamp(installerPercent, 0, 100) / 100;
    if (mapped <= current)
        return std::nullopt;
    current = mapped;
    return current;
}
