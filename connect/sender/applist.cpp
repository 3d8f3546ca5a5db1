#include "connect/sender/applist.h"

namespace {

bool usableName(const std::string& name)
{
    if (name.empty()) {
        return false;
    }
    for (unsigned char c : name) {
        if (c <= ' ' || c == 0x7f) {
            return false;
        }
    }
    return true;
}

} // namespace

AppList buildAppList(const std::vector<std::string>& checkedNames)
{
    AppList list;
    for (const std::string& name : checkedNames) {
        if (usableName(name)) {
            list.text += name;
            list.text += ' ';
        }
        list.names.insert(name);
    }
    return list;
}
