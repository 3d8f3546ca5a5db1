#include "common/sizetext.h"

#include <QCoreApplication>

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

namespace {

const char* const timeUnits[] = {QT_TRANSLATE_NOOP("TimeText", " 秒"), QT_TRANSLATE_NOOP("TimeText", " 分钟"),
    QT_TRANSLATE_NOOP("TimeText", " 小时")};

QString timeText(uint64_t seconds, bool translated)
{
    const auto unitText = [translated](int unit) {
        return translated ? QCoreApplication::translate("TimeText", timeUnits[unit])
                          : QString::fromUtf8(timeUnits[unit]);
    };
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
    QString text = QString::number(v / 10) + unitText(unit);
    if (unit > 0 && v % 10 != 0) {
        text += QLatin1Char(' ') + QString::number((v % 10) * 6) + unitText(unit - 1);
    }
    return text;
}

} // namespace

QString getTimeText(uint64_t seconds)
{
    return timeText(seconds, false);
}

QString getShownTimeText(uint64_t seconds)
{
    return timeText(seconds, true);
}
