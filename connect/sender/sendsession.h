#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "connect/sender/planfiles.h"
#include "connect/sender/resumeledger.h"
#include "connect/sender/sendobserver.h"
#include "net/filemeta.h"
#include "net/tcpclient.h"

class FileSource;
struct FileHeader;

// Everything one send run needs, copied from the selection (or lent by it, see PlanFiles) so that the
// selection may change meanwhile.
struct SendPlan
{
    PlanFiles files; // path and size recorded at selection
    std::vector<std::string> checkedApps; // checked package names, in selection order
    uint64_t appCount = 0; // applications listed, checked or not
    uint64_t selectedFileSize = 0;
    std::optional<std::string> home; // HOME, when set
    // Paths of `files` that are folders or links met inside a chosen folder; every other path is a file.
    std::unordered_map<std::string, FileMeta::Kind> entryKinds;
    // The receiver announced that it takes folder and link entries; without that none is sent.
    bool entriesUnderstood = false;
    // The receiver as the resume ledger knows it; empty: nothing is skipped and nothing remembered.
    std::string receiverIdentity;
    std::string ledgerFile = ResumeLedger::DefaultFile;
};

// Length of home when path lies below it: "/home/al" is no prefix of "/home/alice/x" (0 then).
uint32_t homePrefixLength(const std::optional<std::string>& home, const std::string& path);

// The sender's side of one migration after pairing: transfer header, every file with its result, the
// application list and its installation report, the end mark. A lost connection does not end the run:
// the remaining items are reported as failed without network traffic. Runs on the caller's thread.
// Every item's outcome is a set of ResultBits, the sender's OR'ed with the receiver's result byte.
//
// Files are sent while the results of earlier ones are still on their way (a window bounded in files and
// in bytes); results are taken off the socket as they come, between files and whenever a send waits for
// room, and each file is reported when its own result arrives. The bytes on the wire are those of a
// sender that waits for every result: a receiver that reads one file after another sees no difference.
class SendSession : private TCP::PendingReader
{
public:
    // At most this many files and bytes (headers and content) are sent ahead of their results. 64 small
    // files (about half a MiB with their headers) cover a round trip of several milliseconds at the
    // receiver's small-file rate; 1 MiB keeps large files from piling up unconfirmed. Still to be tuned
    // over the emulated links.
    static constexpr std::size_t MaxFilesInFlight = 64;
    static constexpr uint64_t MaxBytesInFlight = 1u << 20;

    // cancelled, when set by the owner, makes the run stop at the next item without reporting further.
    SendSession(TCP::Client& client, SendObserver& observer, const std::atomic<bool>& cancelled);

    void run(const SendPlan& plan);

private:
    // One file of the plan from the moment its header goes out until it is reported.
    struct Entry
    {
        std::size_t file = 0; // index in the plan
        SendObserver::TimePoint start {};
        int code = 0;
        uint64_t wireBytes = 0; // header and content on the wire
        bool awaiting = false; // its result byte is still to come
        // A regular file as it was opened, confirmed in the ledger when its result is 0.
        std::optional<ResumeLedger::FileState> state;
    };

    bool connected() const;
    // The whole work of one file: opens it, sends its header and content, and tells whether a result is
    // to come. Sets entry.start, code, wireBytes and awaiting.
    void sendFile(Entry& entry, const std::string& path, uint64_t recordedSize, uint32_t prefix);
    // Sends the header: the entry's time starts, and its bytes count in the window. False when lost.
    bool announce(Entry& entry, const FileHeader& header, bool contentFollows);
    // A folder or a link: its record, and for a link the target as content.
    void sendEntry(Entry& entry, const std::string& path, FileMeta::Kind kind, uint32_t prefix);
    // Whether an entry of this kind goes at all: folders and links only to a receiver that takes them.
    static bool travels(const SendPlan& plan, FileMeta::Kind kind);
    int sendContent(FileSource& source, uint64_t size, uint64_t divisor);
    bool sendPadding(uint64_t count);
    void sendApplications(const SendPlan& plan);

    // Takes the results that have arrived, without waiting.
    void readPending() override;
    // Waits for results until the next file fits the window.
    void waitForRoom();
    // Waits for the next result; false when the connection is gone.
    bool awaitResult();
    void resultArrived(uint8_t result);
    // The connection is gone: every file still waiting for its result has lost it.
    void loseInFlight();
    void push(const Entry& entry);
    // Reports, in plan order, the files at the front of the window whose outcome is known.
    void reportSettled();
    void report(const Entry& entry);
    // fileBytes: content sent of the file on its way (shown while a large file goes out).
    void showProgress(uint64_t fileBytes, uint64_t divisor);
    // Opens the ledger and marks the files the receiver already holds unchanged; reports each as skipped.
    void skipConfirmed(const SendPlan& plan);

    TCP::Client& client;
    SendObserver& observer;
    const std::atomic<bool>& cancelled;

    const SendPlan* activePlan = nullptr;
    uint64_t totalBytes = 0;
    uint64_t doneBytes = 0; // recorded sizes of the files reported
    int shownPercent = -1;
    long filesLeft = 0;
    std::size_t nextFile = 0;

    // The window, a ring in plan order.
    std::vector<Entry> window;
    std::size_t head = 0;
    std::size_t count = 0;
    std::size_t awaiting = 0;
    uint64_t bytesInFlight = 0;

    std::vector<char> block;

    std::unique_ptr<ResumeLedger> ledger;
    std::vector<bool> skipped; // by plan index
};
