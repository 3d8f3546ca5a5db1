#include "report/log/resultcodes.h"

#include <QCoreApplication>

#include "common/resultbits.h"

std::string getFailureReason(int result)
{
    switch (result) {
    case ResultBits::Success:
        return std::string();
    case ResultBits::ConnectionLost:
        return QT_TRANSLATE_NOOP("ResultCodes", "发送文件失败");
    case ResultBits::NoDirectory:
        return QT_TRANSLATE_NOOP("ResultCodes", "无法创建目录");
    case ResultBits::NotWritten:
    case ResultBits::NoDirectory | ResultBits::NotWritten:
        return QT_TRANSLATE_NOOP("ResultCodes", "无法创建或打开文件");
    case ResultBits::NoHeader:
        return QT_TRANSLATE_NOOP("ResultCodes", "连接已关闭");
    case ResultBits::Incomplete:
        return QT_TRANSLATE_NOOP("ResultCodes", "文件不存在或被锁定");
    case ResultBits::AppFailed:
        return QT_TRANSLATE_NOOP("ResultCodes", "应用安装失败");
    default:
        return QT_TRANSLATE_NOOP("ResultCodes", "网络异常");
    }
}

QString getShownFailureReason(const std::string& reason)
{
    return QCoreApplication::translate("ResultCodes", reason.c_str());
}
