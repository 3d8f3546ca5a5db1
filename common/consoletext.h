#pragma once

#include <string>

// A file name or peer text as it may go to a terminal: control bytes (and backslash) become escapes such as
// "\x1b", so a name cannot move the cursor, clear the screen or forge a line. Other bytes, UTF-8 included,
// stay as they are.
std::string getConsoleText(const std::string& text);
