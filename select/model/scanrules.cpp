#include "select/model/scanrules.h"

#include "common/pathtext.h"

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
