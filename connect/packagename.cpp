#include "connect/packagename.h"

namespace {

bool isLowerOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isNameChar(char c)
{
    return isLowerOrDigit(c) || c == '+' || c == '-' || c == '.';
}

bool isArchChar(char c)
{
    return isLowerOrDigit(c) || c == '-';
}

} // namespace

bool isValidPackageName(const std::string& name)
{
    const std::string::size_type colon = name.find(':');
    const std::string base = name.substr(0, colon);
    if (base.size() < 2 || !isLowerOrDigit(base.front()))
        return false;
    for (char c : base) {
        if (!isNameChar(c))
            return false;
    }
    if (colon == std::string::npos)
        return true;
    const std::string arch = name.substr(colon + 1);
    if (arch.empty())
        return false;
    for (char c : arch) {
        if (!isArchChar(c))
            return false;
    }
    return true;
}

std::vector<std::string> getListedNames(const std::string& receivedList)
{
    std::vector<std::string> names;
    std::string::size_type start = 0;
    for (std::string::size_type space = receivedList.find(' '); space != std::string::npos;
         space = receivedList.find(' ', start)) {
        names.push_back(receivedList.substr(start, space - start));
        start = space + 1;
    }
    return names;
}
