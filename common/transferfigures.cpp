#include "common/transferfigures.h"

#include <algorithm>
#include <cmath>

#include <QCoreApplication>

#include "common/sizetext.h"

namespace {

// Estimates beyond this (a stalled link crawling along) are no estimate at all.
constexpr double longestEstimate = 100.0 * 24 * 3600;

double secondsOf(TransferFigures::Clock::duration span)
{
    return std::chrono::duration<double>(span).count();
}

} // namespace

void TransferFigures::start(Clock::time_point now)
{
    started = now;
    running = true;
    doneFiles = 0;
    doneBytes = 0;
    samples.clear();
    samples.push_back(Sample {now, 0});
}

void TransferFigures::setTotals(uint64_t files, uint64_t bytes)
{
    totalFiles = files;
    totalBytes = bytes;
}

void TransferFigures::update(Clock::time_point now, uint64_t filesDone, uint64_t bytesDone)
{
    if (!running) {
        start(now);
    }
    doneFiles = std::max(doneFiles, filesDone);
    doneBytes = std::max(doneBytes, bytesDone);
    if (!samples.empty() && now < samples.back().time) {
        now = samples.back().time;
    }
    samples.push_back(Sample {now, doneBytes});
    // Keep one sample at or before the window's start.
    while (samples.size() > 2 && samples[1].time <= now - window) {
        samples.pop_front();
    }
}

std::optional<double> TransferFigures::speed() const
{
    if (samples.size() < 2) {
        return std::nullopt;
    }
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    if (last.time - first.time < settling) {
        return std::nullopt;
    }
    return static_cast<double>(last.bytes - first.bytes) / secondsOf(last.time - first.time);
}

std::optional<uint64_t> TransferFigures::secondsLeft() const
{
    if (doneBytes >= totalBytes) {
        return 0;
    }
    const std::optional<double> now = speed();
    if (!now || *now <= 0.0) {
        return std::nullopt;
    }
    const double left = std::ceil(static_cast<double>(totalBytes - doneBytes) / *now);
    if (left > longestEstimate) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(left);
}

std::optional<double> TransferFigures::averageSpeed() const
{
    if (samples.empty()) {
        return std::nullopt;
    }
    return getAverageSpeed(doneBytes, samples.back().time - started);
}

QString TransferFigures::filesText() const
{
    return QCoreApplication::translate("TransferFigures", "%1 / %2 个文件").arg(doneFiles).arg(totalFiles);
}

QString TransferFigures::bytesText() const
{
    return getSizeText(doneBytes) + QStringLiteral(" / ") + getSizeText(totalBytes);
}

QString TransferFigures::speedText() const
{
    const std::optional<double> now = speed();
    return QCoreApplication::translate("TransferFigures", "速度 ") + (now ? getSpeedText(*now) : QStringLiteral("--"));
}

QString TransferFigures::timeLeftText() const
{
    const std::optional<uint64_t> left = secondsLeft();
    if (!left) {
        return QCoreApplication::translate("TransferFigures", "正在估算剩余时间");
    }
    if (*left == 0) {
        return QCoreApplication::translate("TransferFigures", "即将完成");
    }
    return QCoreApplication::translate("TransferFigures", "剩余约 %1").arg(getShownTimeText(*left));
}

QString TransferFigures::averageSpeedText() const
{
    const std::optional<double> average = averageSpeed();
    return QCoreApplication::translate("TransferFigures", "平均速度 ")
        + (average ? getSpeedText(*average) : QStringLiteral("--"));
}

QString getSpeedText(double bytesPerSecond)
{
    const double clamped = std::max(0.0, std::min(bytesPerSecond, 1e18));
    return getSizeText(static_cast<uint64_t>(clamped)) + QStringLiteral("/s");
}

std::optional<double> getAverageSpeed(uint64_t bytes, std::chrono::nanoseconds elapsed)
{
    if (elapsed <= std::chrono::nanoseconds::zero()) {
        return std::nullopt;
    }
    return static_cast<double>(bytes) / secondsOf(elapsed);
}
