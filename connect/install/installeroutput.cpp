#include "connect/install/installeroutput.h"

#include "select/model/inventory.h"

namespace {

// Output that never ends a line (a terminal-style progress bar) would otherwise pile up for the whole run.
const std::string::size_type bufferLimit = 64 * 1024;

// What apt and dpkg write before the name of the package they work on, in English and in Chinese.
const char* const packageMarks[] = {"Unpacking ", "Setting up ", "Selecting previously unselected package ",
    "正在解压 ", "正在设置 ", "正在选中未选择的软件包 "};

bool isPackageCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

} // namespace

std::optional<std::string> getPackageInLine(const std::string& line)
{
    std::string name;
    for (const char* mark : packageMarks) {
        const std::string::size_type at = line.find(mark);
        if (at != std::string::npos) {
            const std::string::size_type from = at + std::char_traits<char>::length(mark);
            // The name ends where its characters do: at " (version)", ":arch" or a full stop.
            std::string::size_type end = from;
            while (end < line.size() && isPackageCharacter(line[end]))
                ++end;
            // A sentence's full stop is no part of it.
            while (end > from && line[end - 1] == '.')
                --end;
            name = line.substr(from, end - from);
            break;
        }
    }
    if (name.empty() || !isValidPackageName(name))
        return std::nullopt;
    return name;
}

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
