#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "connect/sender/sendobserver.h"
#include "net/filemeta.h"

class FileSource;
namespace TCP {
struct Client;
}

// Everything one send run needs, copied from the selection so that the selection may change meanwhile.
struct SendPlan
{
    std::vector<std::pair<std::string, uint64_t>> files; // path and size recorded at selection
    std::vector<std::string> checkedApps; // checked package names, in selection order
    uint64_t appCount = 0; // applications listed, checked or not
    uint64_t selectedFileSize = 0;
    std::optional<std::string> home; // HOME, when set
    // Paths of `files` that are folders or links met inside a chosen folder; every other path is a file.
    std::unordered_map<std::string, FileMeta::Kind> entryKinds;
    // The receiver announced that it takes folder and link entries; without that none is sent.
    bool entriesUnderstood = false;
};

// Length of home when path lies below it: "/home/al" is no prefix of "/home/alice/x" (0 then).
uint32_t homePrefixLength(const std::optional<std::string>& home, const std::string& path);

// The sender's side of one migration after pairing: transfer header, every file with its result, the
// application list and its installation report, the end mark. A lost connection does not end the run:
// the remaining items are reported as failed without network traffic. Runs on the caller's thread.
// Every item's outcome is a set of ResultBits, the sender's OR'ed with the receiver's result byte.
class SendSession
{
public:
    // cancelled, when set by the owner, makes the run stop at the next item without reporting further.
    SendSession(TCP::Client& client, SendObserver& observer, const std::atomic<bool>& cancelled);

    void run(const SendPlan& plan);

private:
    bool connected() const;
    int sendFile(const std::string& path, uint64_t recordedSize, uint32_t prefix);
    // A folder or a link: its record, and for a link the target as content.
    int sendEntry(const std::string& path, FileMeta::Kind kind, uint32_t prefix);
    // Whether `path` goes at all: folders and links only to a receiver that takes them, with room for
    // their record.
    static bool travels(const SendPlan& plan, FileMeta::Kind kind);
    // Waits for the receiver's result byte and ORs it into code.
    int withResult(int code);
    int sendContent(FileSource& source, uint64_t size, uint64_t divisor);
    bool sendPadding(uint64_t count);
    void sendApplications(const SendPlan& plan);
    void showProgress(uint64_t fileBytes, uint64_t divisor);
    // Reports the file whose result came last (if not done yet) and counts it done.
    void reportFinished();

    // A file whose result is known and whose report line is still to be written.
    struct Finished
    {
        int code;
        std::string path;
        uint64_t recordedSize;
        SendObserver::TimePoint start;
    };

    TCP::Client& client;
    SendObserver& observer;
    const std::atomic<bool>& cancelled;

    uint64_t totalBytes = 0;
    uint64_t doneBytes = 0;
    int shownPercent = -1;
    long filesLeft = 0;
    std::optional<Finished> unreported;
    std::vector<char> block;
};
