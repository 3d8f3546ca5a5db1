#include "common/sizetext.h"

QString getSizeText(uint64_t bytes)
{
    static const char* const units[] = {" B", " KB", " MB", " GB", " TB"};
    uint64_t v = bytes * 10;
    int i = 0;
    while (v > 10239 && i < 4) {
        v >>= 10;
        ++i;
    }
    return QString::number(static_cast<double>(v) / 10.0, 'g', 6) + QString::fromUtf8(units[i]);
}

QString getTimeText(uint64_t seconds)
{
    static const char* const units[] = {" 秒", " 分钟", " 小时"};
    const uint64_t x = seconds * 10;
    int unit = 0;
    uint64_t v = x;
    if (x >= 36000) {
        unit = 2;
        v = x / 3600;
    } else if (x >= 600) {
        unit = 1;
        v = x / 60;
    }
    QString text = QString::number(v / 10) + QString::fromUtf8(units[unit]);
    if (unit > 0 && v % 10 != 0) {
        text += QLatin1Char(' ') + QString::number((v % 10) * 6) + QString::fromUtf8(units[unit - 1]);
    }
    return text;
}
