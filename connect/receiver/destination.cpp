#include "connect/receiver/destination.h"

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
    return d;
}
