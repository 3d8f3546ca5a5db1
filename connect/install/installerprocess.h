#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// The package installer as a child process whose input can be answered and whose output is read in pieces.
// Unlike QProcess it can let go of a child it could not end (one that pkexec made root): stopping never
// holds the caller for more than about two seconds.
class InstallerProcess
{
public:
    InstallerProcess() = default;
    ~InstallerProcess();
    InstallerProcess(const InstallerProcess&) = delete;
    InstallerProcess& operator=(const InstallerProcess&) = delete;

    // Starts argv (argv[0] looked up on PATH) with `setting` ("NAME=value") added to this process's
    // environment; its error output goes to ours. False, with the reason in `error`, when it cannot start.
    bool start(const std::vector<std::string>& argv, const std::string& setting, std::string& error);

    // Waits up to timeoutMs for the program's end, adding what it writes meanwhile to `output`. True once
    // it has ended (or never started).
    bool waitForFinished(int timeoutMs, std::string& output);

    // Writes to the program's input; dropped when it does not read or has closed it.
    void write(const std::string& text);

    // Ends the program: asks, then forces, then stops reading and writing whatever happened.
    void stop();

private:
    bool reap();
    void readAvailable(std::string& output);
    void closePipes();

    pid_t pid = -1;
    bool ended = true;
    int input = -1; // our end of the program's standard input
    int output = -1; // our end of the program's standard output
};
