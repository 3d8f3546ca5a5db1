#include "net/distro.h"

#include <fstream>
#include <regex>

std::string getdistroname(const std::string& path)
{
    std::ifstream file(path);
    if (!file) {
        return std::string();
    }
    static const std::regex name("^NAME=\"(.*?)\"$", std::regex::ECMAScript);
    std::string line;
    std::smatch match;
    while (std::getline(file, line)) {
        if (std::regex_search(line, match, name)) {
            return match[1].str();
        }
    }
    return std::string();
}
