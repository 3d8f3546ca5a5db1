#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include <QString>

// Files and bytes done of a run, its current speed and the time it still needs, and their texts. The
// speed is a moving average over the last few seconds, so a pause or a burst shows within seconds but a
// single slow file does not make the estimate jump. Plain arithmetic: the caller feeds it counts and
// times (a page from its timer, a test with made-up clocks).
class TransferFigures
{
public:
    using Clock = std::chrono::steady_clock;

    // Span of the moving average.
    static constexpr Clock::duration window = std::chrono::seconds(5);
    // No speed or estimate before the samples cover this much: the first bytes (buffers filling) say
    // little about the rest.
    static constexpr Clock::duration settling = std::chrono::seconds(1);

    // A new run starts at `now`: everything counted before is forgotten.
    void start(Clock::time_point now);
    void setTotals(uint64_t files, uint64_t bytes);
    // The counts at `now`. Counts that went back (a late, stale report) are taken as unchanged.
    void update(Clock::time_point now, uint64_t filesDone, uint64_t bytesDone);

    uint64_t filesDone() const { return doneFiles; }
    uint64_t filesTotal() const { return totalFiles; }
    uint64_t bytesDone() const { return doneBytes; }
    uint64_t bytesTotal() const { return totalBytes; }

    // Bytes per second over the window; nothing until the samples span the settling time.
    std::optional<double> speed() const;
    // Whole seconds still needed at the current speed, rounded up; nothing while the speed is unknown or
    // zero. Zero once every byte is done.
    std::optional<uint64_t> secondsLeft() const;
    // Bytes per second from the start to the latest update; nothing before any time has passed.
    std::optional<double> averageSpeed() const;

    // "12 / 340 个文件"
    QString filesText() const;
    // "1.2 GB / 3.4 GB"
    QString bytesText() const;
    // "速度 12.3 MB/s", or "速度 --" while unknown.
    QString speedText() const;
    // "剩余约 1 分钟 30 秒", "正在估算剩余时间" while unknown, "即将完成" when nothing is left.
    QString timeLeftText() const;
    // "平均速度 12.3 MB/s", or "平均速度 --" before any time has passed.
    QString averageSpeedText() const;

private:
    struct Sample
    {
        Clock::time_point time;
        uint64_t bytes;
    };

    Clock::time_point started {};
    bool running = false;
    uint64_t totalFiles = 0;
    uint64_t totalBytes = 0;
    uint64_t doneFiles = 0;
    uint64_t doneBytes = 0;
    // Oldest first; the first one is the last sample at or before the window's start, so the average
    // always spans the whole window once the run is that old.
    std::deque<Sample> samples;
};

// Bytes per second as text: "12.3 MB/s" (tenths truncated, as sizes are).
QString getSpeedText(double bytesPerSecond);

// Average speed of `bytes` moved in `elapsed`; nothing when no time passed.
std::optional<double> getAverageSpeed(uint64_t bytes, std::chrono::nanoseconds elapsed);
