#include "report/log/secondclock.h"

#include <QDateTime>

QTime SecondClock::timeAt(std::chrono::system_clock::time_point when)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
    if (seconds != second || !cached.isValid()) {
        second = seconds;
        cached = QDateTime::fromSecsSinceEpoch(seconds).time();
    }
    return cached;
}
