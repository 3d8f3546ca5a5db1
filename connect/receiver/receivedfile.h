#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <sys/types.h>

#include "net/filemeta.h"

// The content of one incoming file. It is written to a temporary name in the destination's folder and
// renamed over the destination only when every byte arrived, so a broken transfer or a refused file
// never leaves half a file behind and never harms the file already there.
class ReceivedFile
{
public:
    explicit ReceivedFile(std::string destination);
    // Removes the temporary file unless it was committed.
    ~ReceivedFile();
    ReceivedFile(const ReceivedFile&) = delete;
    ReceivedFile& operator=(const ReceivedFile&) = delete;

    // False when an existing destination cannot be opened for writing or another process holds a lock
    // on it; nothing may replace it then.
    static bool replaceable(const std::string& destination);

    // Creates the temporary file beside the destination. False when that is not possible, or when the
    // destination exists and is not replaceable.
    bool open();
    // A temporary file made ahead in `folder`, for a file whose header has not come yet: its creation then
    // overlaps the sender's work instead of adding to every file's round trip. The destination is unused.
    bool openSpare(const std::string& folder);
    // Takes over an unwritten spare as this destination's temporary file (moved into the destination's
    // folder if needed). False, the spare left as it was, when a file stands at the destination or the
    // spare cannot be moved there (another file system); open() is then the way.
    bool adopt(ReceivedFile& spare);

    // The sender's permission bits and modification time, given to the file when it is committed instead
    // of the mode it would get otherwise.
    void keepMeta(const FileMeta& meta) { senderMeta = meta; }

    // Appends the bytes. False on a write error (a full disk, say); later writes are then refused too.
    bool write(const char* data, std::size_t size);
    // Gives the file its final mode (that of the file it replaces, else 0666 less the umask, plus the
    // execute bits when asked) and renames it over the destination. False when nothing was put in place.
    bool commit(bool executable);
    // Drops the temporary file.
    void discard();

    // The process's umask, read without changing it (other threads may be creating files).
    static mode_t currentUmask();

private:
    void startWriteBack(bool last);
    bool createIn(const std::string& folder, mode_t mode);

    std::string destination;
    std::string temporary;
    int fd = -1;
    bool failed = false;
    // A file stood at the destination when the temporary file was created.
    bool replacing = false;
    uint64_t written = 0;
    uint64_t writeBackFrom = 0;
    std::optional<FileMeta> senderMeta;
};
