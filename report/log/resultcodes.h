#pragma once

#include <string>

#include <QString>

// The text a failed item shows for its result code (a bit set); empty for success (0).
std::string getFailureReason(int result);

// The reason as the interface shows it, in the interface's language; the report files keep the reason as
// getFailureReason gives it.
QString getShownFailureReason(const std::string& reason);
