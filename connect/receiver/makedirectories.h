#pragma once

#include <string>

// Creates `directory` and any missing parents, one mkdir per component like "mkdir -p", with the mode the
// umask allows. True when the directory exists afterwards.
bool makeDirectories(const std::string& directory);

// True when `path` exists and is a directory (following symbolic links).
bool isDirectory(const std::string& path);
