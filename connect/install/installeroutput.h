#pragma once

#include <optional>
#include <string>

// Collects what the package installer writes and picks out its percentage and its last complete line.
class InstallerOutput
{
public:
    void append(const std::string& text);

    // The percentage of the latest "% [" mark in the buffer, or of the latest "% ]" when there is no
    // "% [": the digits right before the "%".
    std::optional<int> percent() const;

    // With at least two line ends buffered, the text between the last two; the buffer is emptied then.
    std::optional<std::string> takeLastLine();

    const std::string& buffered() const { return buffer; }

private:
    std::string buffer;
};
