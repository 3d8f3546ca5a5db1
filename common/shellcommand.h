#pragma once

#include <QByteArray>

// Runs one command line through /bin/sh and waits for it. Returns the exit status, or -1 if the shell could
// not be started or did not exit normally. The line is passed as UTF-8 bytes, whatever the locale.
int runShellCommand(const QByteArray& commandLine);
