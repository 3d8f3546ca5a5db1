#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <QString>

class QDateTime;
class QTime;

// Whole seconds from start to end, truncated; a negative span gives 0.
uint64_t getDurationSeconds(std::chrono::system_clock::time_point start, std::chrono::system_clock::time_point end);

// Time of day as "hh:mm:ss", 24-hour.
QString getClockText(const QTime& time);

// One line of ".succeed.txt": name, size, time, duration, tab-separated, ending in a line feed.
std::string getSucceededLine(const std::string& filename, uint64_t filesize, const QTime& time, uint64_t seconds);

// One line of ".failed.txt": name, size, reason, time, duration.
std::string getFailedLine(
    const std::string& filename, uint64_t filesize, const std::string& reason, const QTime& time, uint64_t seconds);

// One line of ".skipped.txt": name and size, tab-separated.
std::string getSkippedLine(const std::string& filename, uint64_t filesize);

// Completion as "S × 100 ÷ max(S + F, 1) %", truncated.
QString getPercentageText(uint64_t succeeded, uint64_t failed);

// The report label: "报告生成时间：yyyy年MM月dd日-hh:mm:ss".
QString getReportTimeText(const QDateTime& when);
// The same label in the interface's language (the dated report copies keep the name above).
QString getShownReportTimeText(const QDateTime& when);
