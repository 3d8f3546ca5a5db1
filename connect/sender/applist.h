#pragma once

#include <set>
#include <string>
#include <vector>

// The application list as it goes to the receiver, and the names still waiting for an outcome.
struct AppList
{
    std::string text; // "name name ... ", each name followed by one space
    std::set<std::string> names; // every checked name; those the report confirms are taken out
};

// Builds the list from the checked package names in selection order. A name that cannot be a package
// (empty, or holding white space that the receiver would split) is left out of the text but kept among
// the names, so it is reported as not installed.
AppList buildAppList(const std::vector<std::string>& checkedNames);
