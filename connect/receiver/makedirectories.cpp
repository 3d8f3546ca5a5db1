#include "connect/receiver/makedirectories.h"

#include <cerrno>

#include <sys/stat.h>

bool isDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectories(const std::string& directory)
{
    if (directory.empty()) {
        return false;
    }
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = directory.find('/', pos + 1);
        const std::string prefix = directory.substr(0, pos);
        if (prefix.empty() || prefix.back() == '/') {
            continue;
        }
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return isDirectory(directory);
}
