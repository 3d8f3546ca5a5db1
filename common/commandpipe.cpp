#include "common/commandpipe.h"

CommandPipe::CommandPipe(const std::string& command) : pipe(::popen(command.c_str(), "r")) { }

CommandPipe::~CommandPipe()
{
    if (pipe) {
        ::pclose(pipe);
    }
}

bool CommandPipe::isOpen() const
{
    return pipe != nullptr;
}

std::string CommandPipe::readAll()
{
    std::string text;
    if (!pipe) {
        return text;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        text.append(buffer, got);
    }
    return text;
}

std::string getCommandOutput(const std::string& command)
{
    CommandPipe pipe(command);
    return pipe.readAll();
}
