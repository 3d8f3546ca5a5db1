#pragma once

#include <string>

// The text a failed item shows for its result code (a bit set); empty for success (0).
std::string getFailureReason(int result);
