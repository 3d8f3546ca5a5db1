#include "report/log/resultcodes.h"

std::string getFailureReason(int result)
{
    switch (result) {
    case 0:
        return std::string();
    case 1:
        return "发送文件失败";
    case 2:
        return "无法创建目录";
    case 4:
    case 6:
        return "无法创建或打开文件";
    case 8:
        return "连接已关闭";
    case 16:
        return "文件不存在或被锁定";
    case 64:
        return "应用安装失败";
    default:
        return "网络异常";
    }
}
