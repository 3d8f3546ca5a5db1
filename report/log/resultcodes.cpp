#include "report/log/resultcodes.h"

#include "common/resultbits.h"

std::string getFailureReason(int result)
{
    switch (result) {
    case ResultBits::Success:
        return std::string();
    case ResultBits::ConnectionLost:
        return "发送文件失败";
    case ResultBits::NoDirectory:
        return "无法创建目录";
    case ResultBits::NotWritten:
    case ResultBits::NoDirectory | ResultBits::NotWritten:
        return "无法创建或打开文件";
    case ResultBits::NoHeader:
        return "连接已关闭";
    case ResultBits::Incomplete:
        return "文件不存在或被锁定";
    case ResultBits::AppFailed:
        return "应用安装失败";
    default:
        return "网络异常";
    }
}
