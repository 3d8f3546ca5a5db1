#pragma once

#include <optional>
#include <string>

// Collects what the package installer writes and picks out its percentage and its last complete line.
// The package a line of the installer's output works on ("Unpacking vim (2:9.0) ...", "正在设置 vim
// (2:9.0) ..."), without its architecture; nothing for other lines or names Debian would not accept. The
// archive lines ("Preparing to unpack .../00-vim_...deb") are left out: apt numbers them, and a numbered
// name cannot be told from a package whose name begins with digits.
std::optional<std::string> getPackageInLine(const std::string& line);

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
