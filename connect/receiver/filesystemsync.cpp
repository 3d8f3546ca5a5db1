#include "connect/receiver/filesystemsync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileSystemSync::~FileSystemSync()
{
    for (const Folder& f : folders) {
        ::close(f.fd);
    }
}

void FileSystemSync::add(const std::string& folder)
{
    // One look per folder, not per file.
    if (folder == lastFolder) {
        return;
    }
    lastFolder = folder;
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) {
        return;
    }
    for (const Folder& f : folders) {
        if (f.device == st.st_dev) {
            return;
        }
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        folders.push_back({st.st_dev, fd});
    }
}

bool FileSystemSync::syncAll()
{
    bool ok = true;
    for (const Folder& f : folders) {
        ok = ::syncfs(f.fd) == 0 && ok;
        ::close(f.fd);
    }
    folders.clear();
    lastFolder.clear();
    return ok;
}
