#pragma once

#include <atomic>
#include <string>
#include <vector>

// The one way this program runs other programs. Arguments go as a list, never through a shell, so no text
// (a file name, a package name) can become a command; `sh -c` is only for fixed command lines that need a
// pipe. Output is read in C++.
namespace Process {

struct Result
{
    bool started = false;
    // The exit status, or -1 when the program did not start, was killed or was stopped.
    int exitCode = -1;
    bool stopped = false;
    std::string output;
};

// Runs `program` (looked up on PATH) with `arguments` and collects its standard output until it ends.
// With `stop` given, a set flag kills the program within about 100 ms and the result says stopped.
Result run(
    const std::string& program, const std::vector<std::string>& arguments, const std::atomic<bool>* stop = nullptr);

// The standard output of a program run as above; empty when it cannot be started.
std::string output(const std::string& program, const std::vector<std::string>& arguments);

// A fixed command line through `sh -c`, for pipes only. Never pass text that came from the network or a
// file name.
Result runFixedShellLine(const std::string& fixedLine, const std::atomic<bool>* stop = nullptr);

// Starts a program and does not wait for it (a viewer such as xdg-open); false when it cannot start.
bool startDetached(const std::string& program, const std::vector<std::string>& arguments);

} // namespace Process
