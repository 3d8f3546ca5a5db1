#include "select/model/inventory.h"

#include "common/pathtext.h"

namespace {

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

bool isLeadChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// What follows the first occurrence of key, up to the next line feed or the end.
bool valueAfter(const std::string& text, const std::string& key, std::string& value)
{
    const std::size_t at = text.find(key);
    if (at == std::string::npos) {
        return false;
    }
    const std::size_t from = at + key.size();
    const std::size_t end = text.find('\n', from);
    value = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
    return true;
}

// The first line that begins with head and ends with tail (which may not overlap).
std::string firstLineWith(const std::string& text, const std::string& head, const std::string& tail)
{
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(from, end - from);
        if (line.size() >= head.size() + tail.size() && startsWith(line, head) && endsWith(line, tail)) {
            return line;
        }
        from = end + 1;
    }
    return std::string();
}

} // namespace

bool isValidPackageName(const std::string& name)
{
    const std::size_t colon = name.find(':');
    const std::string base = name.substr(0, colon);
    if (base.size() < 2 || !isLeadChar(base[0])) {
        return false;
    }
    for (char c : base) {
        if (!isNameChar(c)) {
            return false;
        }
    }
    if (colon == std::string::npos) {
        return true;
    }
    const std::string arch = name.substr(colon + 1);
    if (arch.empty() || !isLeadChar(arch[0])) {
        return false;
    }
    for (char c : arch) {
        if (!isLeadChar(c) && c != '-') {
            return false;
        }
    }
    return true;
}

std::vector<std::string> parsePackageList(const std::string& output)
{
    std::vector<std::string> names;
    std::size_t from = 0;
    std::size_t end = 0;
    while ((end = output.find('\n', from)) != std::string::npos) {
        const std::string line = output.substr(from, end - from);
        if (!line.empty() && isValidPackageName(line)) {
            names.push_back(line);
        }
        from = end + 1;
    }
    return names;
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

std::string firstDesktopEntry(const std::string& fileList)
{
    return firstLineWith(fileList, std::string(), ".desktop");
}

std::string firstIconFile(const std::string& fileList)
{
    return firstLineWith(fileList, "/usr/share/icons/", ".png");
}

std::string desktopEntryName(const std::string& entry)
{
    std::string name;
    if (valueAfter(entry, "Name[zh_CN]=", name) || valueAfter(entry, "\nName=", name)) {
        return name;
    }
    return std::string();
}

bool desktopEntryIcon(const std::string& entry, std::string& value)
{
    return valueAfter(entry, "Icon=", value);
}
