#include "connect/sender/resumeledger.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/writeall.h"

namespace {

const char* const FirstLine = "movanta-resume 1";
const char* const ReceiverTag = "receiver ";

// A path may hold any byte but NUL; the escapes keep one entry per line.
std::string escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

bool unescaped(const std::string& text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        if (text[i] == '\\') {
            out += '\\';
        } else if (text[i] == 'n') {
            out += '\n';
        } else {
            return false;
        }
    }
    return true;
}

std::string entryLine(const std::string& path, const ResumeLedger::FileState& state)
{
    char fields[96];
    std::snprintf(fields, sizeof(fields), "%" PRIu64 " %" PRId64 ".%09" PRIu32 " %04o ", state.size, state.mtimeSeconds,
        state.mtimeNanoseconds, static_cast<unsigned>(state.mode));
    return fields + escaped(path) + '\n';
}

bool allDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() <= 19;
}

// "<size> <seconds>.<nine digits> <octal mode> <path>", exactly as entryLine writes it.
bool parseEntry(const std::string& line, std::string& path, ResumeLedger::FileState& state)
{
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    const std::size_t third = second == std::string::npos ? second : line.find(' ', second + 1);
    if (third == std::string::npos) {
        return false;
    }
    const std::string size = line.substr(0, first);
    const std::string time = line.substr(first + 1, second - first - 1);
    const std::string mode = line.substr(second + 1, third - second - 1);
    const std::size_t dot = time.find('.');
    if (!allDigits(size) || dot == std::string::npos || time.size() - dot - 1 != 9 || mode.size() != 4
        || mode.find_first_not_of("01234567") != std::string::npos) {
        return false;
    }
    const bool negative = time[0] == '-';
    const std::string seconds = time.substr(negative ? 1 : 0, dot - (negative ? 1 : 0));
    const std::string nanoseconds = time.substr(dot + 1);
    // At most 18 digits of seconds, so the conversion cannot overflow.
    if (!allDigits(seconds) || seconds.size() > 18 || !allDigits(nanoseconds)
        || !unescaped(line.substr(third + 1), path) || path.empty()) {
        return false;
    }
    state.size = std::stoull(size);
    state.mtimeSeconds = std::stoll(seconds) * (negative ? -1 : 1);
    state.mtimeNanoseconds = static_cast<uint32_t>(std::stoul(nanoseconds));
    state.mode = static_cast<uint32_t>(std::stoul(mode, nullptr, 8));
    return true;
}

} // namespace

bool ResumeLedger::FileState::operator==(const FileState& other) const
{
    return size == other.size && mtimeSeconds == other.mtimeSeconds && mtimeNanoseconds == other.mtimeNanoseconds
        && mode == other.mode;
}

ResumeLedger::ResumeLedger(std::string file) : path(std::move(file)) { }

ResumeLedger::~ResumeLedger()
{
    if (fd >= 0) {
        ::close(fd);
    }
}

bool ResumeLedger::open(const std::string& receiver)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    confirmed.clear();
    const std::string receiverLine = ReceiverTag + escaped(receiver);
    {
        std::ifstream in(path);
        std::string line;
        if (in && std::getline(in, line) && line == FirstLine && std::getline(in, line) && line == receiverLine) {
            std::string file;
            FileState state;
            while (std::getline(in, line)) {
                // A line cut by a crash is only the end of the file: skipped.
                if (parseEntry(line, file, state)) {
                    confirmed[file] = state;
                }
            }
        }
    }
    // Rewritten whole through a temporary file, so a crash now leaves the old ledger or the new one.
    const std::string temporary = path + ".new";
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    // In pieces: a ledger of a million files is tens of megabytes of text.
    constexpr std::size_t Piece = 1 << 16;
    std::string text = std::string(FirstLine) + '\n' + receiverLine + '\n';
    bool written = true;
    for (const auto& [file, state] : confirmed) {
        text += entryLine(file, state);
        if (text.size() >= Piece) {
            written = written && writeAll(fd, text.data(), text.size());
            text.clear();
        }
    }
    written = written && writeAll(fd, text.data(), text.size());
    if (!written || ::fsync(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::close(fd);
        fd = -1;
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<ResumeLedger::FileState> ResumeLedger::stateOf(const std::string& file)
{
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    FileState state;
    state.size = static_cast<uint64_t>(st.st_size);
    state.mtimeSeconds = st.st_mtim.tv_sec;
    state.mtimeNanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    state.mode = st.st_mode & 07777;
    return state;
}

bool ResumeLedger::confirmedUnchanged(const std::string& file, const FileState& now) const
{
    const auto found = confirmed.find(file);
    return found != confirmed.end() && found->second == now;
}

void ResumeLedger::confirm(const std::string& file, const FileState& state)
{
    // Only the file learns of a new confirmation: a run asks before it sends (and then forgets what it
    // read), and a million remembered paths would cost the sender more than its whole selection.
    writeLine(entryLine(file, state));
}

void ResumeLedger::forgetLoaded()
{
    confirmed = {};
}

bool ResumeLedger::writeLine(const std::string& line)
{
    // One write per line on a descriptor opened for this run: a crash cuts at most the last line.
    return fd >= 0 && writeAll(fd, line.data(), line.size());
}
