#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

// What the sender remembers of the files a receiver confirmed, so that "继续传输" to that receiver skips
// the ones that have not changed since. A plain text file in the working folder beside the report files:
//   movanta-resume 1
//   receiver <the receiver's identity>
//   <size> <mtime seconds>.<nanoseconds> <mode, octal> <path, with \\ and \n escaped>
// No file content is kept. A line is appended (and flushed) as each result arrives, so a run that breaks
// keeps every confirmation it had; for the same path the last line counts.
class ResumeLedger
{
public:
    struct FileState
    {
        uint64_t size = 0;
        int64_t mtimeSeconds = 0;
        uint32_t mtimeNanoseconds = 0;
        uint32_t mode = 0; // permission bits only

        bool operator==(const FileState& other) const;
    };

    static constexpr const char* DefaultFile = ".resume.txt";

    explicit ResumeLedger(std::string path = DefaultFile);
    ~ResumeLedger();
    ResumeLedger(const ResumeLedger&) = delete;
    ResumeLedger& operator=(const ResumeLedger&) = delete;

    // Reads what was confirmed by `receiver` and keeps the file open for appending. A ledger of another
    // receiver (or none, or one that cannot be read) starts empty. The file is rewritten compactly.
    // False when it cannot be written (the run then simply skips nothing next time).
    bool open(const std::string& receiver);

    // The state of a regular file as the sender would send it now (following links); none when it cannot
    // be read.
    static std::optional<FileState> stateOf(const std::string& path);

    // True when `path` was confirmed with exactly this state.
    bool confirmedUnchanged(const std::string& path, const FileState& now) const;

    // Remembers a confirmed file: in the file at once, for the lookups above from the next open on.
    void confirm(const std::string& path, const FileState& state);
    // Frees what open read, once the run has asked about every file.
    void forgetLoaded();

    std::size_t size() const { return confirmed.size(); }

private:
    bool writeLine(const std::string& line);

    std::string path;
    int fd = -1;
    std::unordered_map<std::string, FileState> confirmed;
};
