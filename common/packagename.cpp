#include "common/packagename.h"

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
