#pragma once

#include <string>

// Appends lines to one report file through a descriptor kept open across a run: opening, seeking and
// closing the file for every line cost more than a small file's whole transfer. Each line goes out in
// one write, so it is in the file (if not yet on disk) the moment append() returns. A file removed
// meanwhile is created anew on the next line.
class ReportAppender
{
public:
    explicit ReportAppender(std::string path);
    ~ReportAppender();
    ReportAppender(const ReportAppender&) = delete;
    ReportAppender& operator=(const ReportAppender&) = delete;

    // False if the file could not be opened or the line not written whole.
    bool append(const std::string& line);
    void close();

private:
    bool ensureOpen();

    const std::string path;
    int fd = -1;
};
