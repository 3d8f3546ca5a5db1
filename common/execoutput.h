#pragma once

#include <string>

// Runs a command line through the shell and returns everything it wrote on standard output; empty when
// the shell cannot be started. Only for command lines built from fixed text and validated package names.
std::string getExecOutput(std::string command);
