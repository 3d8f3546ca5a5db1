#include "connect/install/installeroutput.h"

namespace {

// Output that never ends a line (a terminal-style progress bar) would otherwise pile up for the whole run.
const std::string::size_type bufferLimit = 64 * 1024;

} // namespace

void InstallerOutput::append(const std::string& text)
{
    buffer += text;
    if (buffer.size() > bufferLimit)
        buffer.erase(0, buffer.size() - bufferLimit);
}

std::optional<int> InstallerOutput::percent() const
{
    std::string::size_type mark = buffer.rfind("% [");
    if (mark == std::string::npos)
        mark = buffer.rfind("% ]");
    if (mark == std::string::npos)
        return std::nullopt;
    // "100% [" must read as 100, so walk back over the digits instead of starting at a fixed offset.
    std::string::size_type start = mark;
    while (start > 0 && mark - start < 3 && buffer[start - 1] >= '0' && buffer[start - 1] <= '9')
        --start;
    if (start == mark)
        return std::nullopt;
    return std::stoi(buffer.substr(start, mark - start));
}

std::optional<std::string> InstallerOutput::takeLastLine()
{
    const std::string::size_type last = buffer.rfind('\n');
    if (last == std::string::npos || last < 2)
        return std::nullopt;
    const std::string::size_type previous = buffer.rfind('\n', last - 1);
    if (previous == std::string::npos)
        return std::nullopt;
    std::string line = buffer.substr(previous + 1, last - previous - 1);
    buffer.clear();
    return line;
}
