#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Remembers the file systems that received files during a migration and flushes them all at its end, so
// that what the sender's report calls written survives a power cut, at the cost of one sync per file
// system instead of one per file.
class FileSystemSync
{
public:
    FileSystemSync() = default;
    ~FileSystemSync();
    FileSystemSync(const FileSystemSync&) = delete;
    FileSystemSync& operator=(const FileSystemSync&) = delete;

    // Notes the file system holding `folder`.
    void add(const std::string& folder);
    // syncfs on every noted file system, then forgets them. False when one of them reported an error.
    bool syncAll();
    std::size_t count() const { return folders.size(); }

private:
    struct Folder
    {
        dev_t device;
        int fd;
    };
    std::vector<Folder> folders;
    std::string lastFolder;
};
