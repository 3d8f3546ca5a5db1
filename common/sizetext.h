#pragma once

#include <cstdint>

#include <QString>

// Byte count as text: tenths truncated, units B to TB ("1023 B", "1.5 KB", "976.5 KB").
QString getSizeText(uint64_t bytes);

// Whole seconds as text: "59 秒", "1 分钟 30 秒", "1 小时 30 分钟"; the smaller unit in steps of 6.
QString getTimeText(uint64_t seconds);
// The same in the interface's language; the report files keep getTimeText's words.
QString getShownTimeText(uint64_t seconds);
