#include "connect/receiver/destination.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/pathtext.h"

namespace {

const std::string dataHome = "/data/home/";
const std::string userShare = "/data/usershare/";

std::vector<std::string> componentsOf(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

bool namesAFile(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    return !last.empty() && last != "." && last != "..";
}

} // namespace

bool hasParentComponent(const std::string& path)
{
    for (const std::string& part : componentsOf(path)) {
        if (part == "..") {
            return true;
        }
    }
    return false;
}

bool isLauncherPlace(const std::string& path, const std::string& home)
{
    static const std::string suffix = ".desktop";
    const std::string base = home.empty() ? std::string(".") : home;
    if ((path.empty() || path[0] != '/') != (base[0] != '/') || hasParentComponent(path) || hasParentComponent(base)) {
        return false;
    }
    const std::vector<std::string> parts = componentsOf(path);
    const std::vector<std::string> homeParts = componentsOf(base);
    if (parts.empty() || parts.size() <= homeParts.size()
        || !std::equal(homeParts.begin(), homeParts.end(), parts.begin())) {
        return false;
    }
    // A hidden ".desktop" or "x.desktop" in a subfolder is no launcher.
    const std::string& name = parts.back();
    if (name.size() <= suffix.size() || name[0] == '.' || !endsWith(name, suffix)) {
        return false;
    }
    const std::vector<std::string> folder(
        parts.begin() + static_cast<std::ptrdiff_t>(homeParts.size()), parts.end() - 1);
    static const std::vector<std::vector<std::string>> launcherFolders
        = {{"桌面"}, {"Desktop"}, {".local", "share", "applications"}};
    return std::find(launcherFolders.begin(), launcherFolders.end(), folder) != launcherFolders.end();
}

bool isInside(const std::string& path, const std::string& root)
{
    const bool pathAbsolute = !path.empty() && path[0] == '/';
    const bool rootAbsolute = !root.empty() && root[0] == '/';
    if (pathAbsolute != rootAbsolute || hasParentComponent(path) || hasParentComponent(root)) {
        return false;
    }
    const std::vector<std::string> inner = componentsOf(path);
    const std::vector<std::string> outer = componentsOf(root);
    if (inner.size() <= outer.size()) {
        return false;
    }
    for (std::size_t i = 0; i < outer.size(); ++i) {
        if (inner[i] != outer[i]) {
            return false;
        }
    }
    return true;
}

Destination destinationFor(const std::string& senderPath, uint32_t homePrefixLength, const std::string& home)
{
    std::string base = home.empty() ? std::string(".") : home;
    std::size_t offset = homePrefixLength < senderPath.size() ? homePrefixLength : 0;
    std::string root = base;

    if (startsWith(senderPath, dataHome)) {
        const std::size_t slash = senderPath.find('/', 12);
        if (slash != std::string::npos) {
            offset = slash;
        }
    } else if (startsWith(senderPath, userShare)) {
        base.clear();
        root = userShare;
        offset = 0;
    }

    Destination d;
    d.path = base;
    if (!base.empty() && base.back() != '/' && (offset >= senderPath.size() || senderPath[offset] != '/')) {
        d.path += '/';
    }
    d.path.append(senderPath, offset, std::string::npos);

    // ".." is refused on the sender's own text as well as on the result, so no prefix cut can hide it.
    d.allowed = !hasParentComponent(senderPath) && namesAFile(d.path) && isInside(d.path, root);
    d.executable = d.allowed && isLauncherPlace(d.path, base);
    return d;
}
