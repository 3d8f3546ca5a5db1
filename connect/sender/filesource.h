#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/filemeta.h"

// One file opened for sending. Only regular files (or links to them) are read: a FIFO or a device picked
// by mistake would otherwise block the transfer forever or never end.
class FileSource
{
public:
    enum class Status {
        Open,
        Missing, // ENOENT
        Unreadable, // any other reason, or not a regular file
    };

    explicit FileSource(const std::string& path);
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    Status status() const { return openStatus; }
    // Length of the file when it was opened.
    uint64_t length() const { return openLength; }
    // Mode and time of the file as opened; when it could not be opened, what a look at the path still
    // tells, marked unreadable.
    const FileMeta& meta() const { return record; }
    // Every mode bit of the file as opened (setuid, setgid and sticky too), for the resume ledger.
    uint32_t modeBits() const { return openMode; }

    // Reads up to n bytes. Fewer come back only at the end of the file or after a read error; then
    // ended() is true and later reads return 0.
    std::size_t read(char* into, std::size_t n);
    bool ended() const { return end; }

    void close();

private:
    int fd = -1;
    Status openStatus = Status::Unreadable;
    uint64_t openLength = 0;
    uint32_t openMode = 0;
    FileMeta record;
    bool end = false;
};
