#pragma once

#include <optional>

// Maps the installer's percentages onto the part of the transfer bar that the files left over: the bar
// starts where the files ended and reaches 100 when the installer reports 100. The installer runs several
// phases that each count from 0 again, so the bar only ever moves forward.
class InstallProgress
{
public:
    explicit InstallProgress(int startValue);

    // The new bar value for an installer percentage, or nothing when the bar would not move forward.
    std::optional<int> advance(int installerPercent);

    int value() const { return current; }

private:
    int start;
    int current;
};
