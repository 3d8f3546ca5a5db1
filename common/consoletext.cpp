#include "common/consoletext.h"

std::string getConsoleText(const std::string& text)
{
    static const char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += Hex[byte >> 4];
            out += Hex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}
