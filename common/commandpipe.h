#pragma once

#include <cstdio>
#include <string>

// The standard output of a shell command line, read through popen and closed when the pipe goes.
class CommandPipe
{
public:
    explicit CommandPipe(const std::string& command);
    ~CommandPipe();
    CommandPipe(const CommandPipe&) = delete;
    CommandPipe& operator=(const CommandPipe&) = delete;

    bool isOpen() const;
    // Everything the command writes, until it ends.
    std::string readAll();

private:
    FILE* pipe;
};

// The whole output of a command line; empty when it cannot be started.
std::string getCommandOutput(const std::string& command);
