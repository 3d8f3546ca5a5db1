#include "select/model/scanrules.h"

namespace {

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool startsWith(const std::string& text, const std::string& head)
{
    return text.compare(0, head.size(), head) == 0;
}

} // namespace

bool isPathTooLong(const std::string& path)
{
    return path.size() >= MaxPathBytes;
}

bool isHiddenSkipped(const std::string& path, const std::string& name)
{
    return !name.empty() && name[0] == '.' && path.find("wechat") == std::string::npos;
}

bool isSkippedFileName(const std::string& name, bool skipDesktop)
{
    return endsWith(name, ".lock") || (skipDesktop && endsWith(name, ".desktop"));
}

bool isUnderFolder(const std::string& key, const std::string& folder)
{
    if (folder.empty() || !startsWith(key, folder) || key.size() == folder.size()) {
        return false;
    }
    return folder.back() == '/' || key[folder.size()] == '/';
}

bool isSettingsEntry(const std::string& key, const std::string& home)
{
    return !home.empty() && startsWith(key, home + "/.conf");
}
