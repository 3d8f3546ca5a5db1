#pragma once

#include <chrono>

#include <QTime>

// The local time of day, looked up at most once per second. Every report line carries it, and each
// lookup goes through the time zone database (a stat of /etc/localtime at least): too much for hundreds of
// small files a second, when all of them within one second get the same "hh:mm:ss" anyway.
class SecondClock
{
public:
    QTime timeAt(std::chrono::system_clock::time_point when);

private:
    std::chrono::system_clock::time_point::rep second = -1;
    QTime cached;
};
