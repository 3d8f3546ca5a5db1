#pragma once

#include <string>

// Plain text tests and cuts on paths: no file system access, no normalisation.

// Whether text begins with head (any text begins with "").
bool startsWith(const std::string& text, const std::string& head);
// Whether text ends with tail (any text ends with "").
bool endsWith(const std::string& text, const std::string& tail);
// The part before the last slash: "/a/b" gives "/a", "/a" and "/" give "/", a name without a slash
// (or "") gives ".". A trailing slash is cut alone: "/a/" gives "/a".
std::string folderOf(const std::string& path);
