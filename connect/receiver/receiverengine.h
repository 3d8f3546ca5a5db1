#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "connect/receiver/entrywriter.h"
#include "connect/receiver/filesystemsync.h"
#include "connect/receiver/leftoversweep.h"
#include "connect/receiver/pairingthrottle.h"
#include "connect/receiver/receiverlimits.h"
#include "net/secure/resumehandshake.h"
#include "net/secure/securehandshake.h"
#include "net/secure/sessionkeys.h"

namespace TCP {
struct Client;
}
class ReceiverEvents;
class ReceivedFile;
struct Destination;
struct FileHeader;
enum class ReceiverView : int;

// The receiver's side of a migration. The server's service thread calls connected() for every connected
// client about once per millisecond; each call does one step and returns: a pairing attempt, the free
// space and the transfer header, the files whose bytes are there (a bounded batch), or the application
// phase and the end. Only that thread may
// call connected() and transferDone(); reset() only while no service thread runs.
class ReceiverEngine
{
public:
    ReceiverEngine(std::string code, ReceiverEvents& events, const ReceiverLimits& limits = ReceiverLimits());
    ~ReceiverEngine();
    ReceiverEngine(const ReceiverEngine&) = delete;
    ReceiverEngine& operator=(const ReceiverEngine&) = delete;

    void connected(TCP::Client* client);
    void transferDone(TCP::Client* client);
    // Forgets the pairing, the migration and every connection (the page was unloaded).
    void reset();

    // Set from any thread to end a running application phase soon (the page is closing); the connection
    // is then dropped. Cleared by whoever set it once the service thread has ended.
    std::atomic<bool> stop {false};
    // A code was accepted since the last reset.
    bool paired = false;
    uint64_t headerBytes = 0;
    uint64_t filesLeft = 0;
    uint64_t totalBytes = 0;
    uint64_t receivedBytes = 0;

private:
    using Clock = std::chrono::steady_clock;

    struct Session
    {
        uint32_t peer = 0; // IPv4 address, network order
        bool trusted = false; // the connection that migrates: it gave the code, or resumed
        bool freeSpaceSent = false;
        uint64_t ticket = 0; // place in the pairing queue, 0 when none
        bool spoke = false; // sent at least one byte
        bool closedHere = false; // closed by this engine (a stranger sent away), not by its peer
        Clock::time_point since = Clock::now();
        Clock::time_point lastActive = since; // the last bytes taken from it
        bool codeStarted = false; // sent part of a code and no complete one since
        Clock::time_point codeStartedAt {};
        bool partial = false; // fewer than six bytes wait in the socket
        Clock::time_point partialSince {};
        // A secure pairing or a reconnect proving the resume secret, one step per call.
        std::unique_ptr<SecureHandshake> pairing;
        std::unique_ptr<ResumeHandshake> resuming;
        int handshakeTaken = 0; // bytes of the running handshake taken off the socket
        bool secure = false; // its migration travels encrypted
        SessionKeys::Key resumeKey {};
    };

    Session& sessionFor(TCP::Client* client);
    void tryPair(TCP::Client* client, Session& session);
    // Bytes waiting in an unpaired connection, copied to head (at most size); -1 when the peer has gone.
    static int peekBytes(TCP::Client* client, char* head, std::size_t size);
    void checkCode(TCP::Client* client, Session& session);
    // A wrong code, plain or in a secure pairing, towards the guessing pace's shown count and new code.
    void wrongCode();
    // A connection that opened with a secure prefix: waits for the whole opening, then answers it (a
    // pairing only at the pairing pace).
    void openSecure(
        TCP::Client* client, Session& session, SecureHandshake::Opening kind, int available, Clock::time_point now);
    // Feeds what arrived to the running handshake and acts on its end.
    void stepSecure(TCP::Client* client, Session& session, Clock::time_point now);
    void settleSecure(TCP::Client* client, Session& session);
    // The connection is paired (or resumed); `keys` set for a secure one, which then switches on its frames.
    void trust(TCP::Client* client, Session& session, const SessionKeys* keys);
    // When every place is taken, the unpaired connection that most deserves it gives its place up; true
    // when that was this one. codeWaiting: its code waits for its turn.
    bool giveWayIfFull(TCP::Client* client, Session& session, Clock::time_point now, bool codeWaiting = false);
    void sendAway(TCP::Client* client, Session& session);
    void showCodePage();
    // The migration of `client` ended or broke: its address may resume for a while.
    void openResume(TCP::Client* client);
    void startMigration(TCP::Client* client, Session& session);
    // Files while their bytes are there, a bounded batch per call.
    void receiveFiles(TCP::Client* client);
    void receiveFile(TCP::Client* client);
    // The steps of one file after its header; the uint8_t values are its ResultBits.
    // Chooses by the header's record: a folder or a link, a file the sender could not read (which replaces
    // nothing), or a file's content.
    uint8_t storeEntry(TCP::Client* client, const Destination& destination, bool allowed, const FileHeader& header);
    // Reads a link's target or a folder's (empty) content; false when the connection was lost.
    bool receiveSmall(TCP::Client* client, uint64_t size, std::string& content);
    // Reads the content into the destination (when allowed) and puts it in place, with the sender's mode
    // and time when meta is given.
    uint8_t storeFile(
        TCP::Client* client, const Destination& destination, bool allowed, uint64_t size, const FileMeta* meta);
    // Makes the folder when needed and the temporary file (the spare, when it can be taken over).
    uint8_t openFile(const std::string& path, const std::string& folder, std::unique_ptr<ReceivedFile>& file);
    // Reads size bytes, written to file while it takes them (a failed file is dropped).
    void receiveContent(TCP::Client* client, uint64_t size, std::unique_ptr<ReceivedFile>& file, uint8_t& result);
    // Sends the result byte and counts the file done.
    void answerFile(TCP::Client* client, uint8_t result, const std::string& shown, uint64_t size);
    // Makes the next file's temporary file ahead, in the last file's folder.
    void prepareSpare(TCP::Client* client, uint8_t result);
    // The run's files are all in (or the connection went): folders get their modes and times.
    void finishEntries();
    void finishMigration(TCP::Client* client);
    void connectionLost(TCP::Client* client, const Session& session);
    void forget(TCP::Client* client);
    void requestPage(ReceiverView view);
    void reportProgress(uint64_t bytes, uint64_t divisor);

    std::string code;
    ReceiverEvents& events;
    const ReceiverLimits limits;

    std::unordered_map<TCP::Client*, Session> sessions;
    // The connection whose migration runs; others that may migrate wait for it.
    TCP::Client* owner = nullptr;
    // "继续传输": the address whose migration ended last, and until when it may start again without a code.
    bool resumeOpen = false;
    uint32_t resumePeer = 0;
    Clock::time_point resumeFrom {}; // connections made before the end are not the resume
    Clock::time_point resumeUntil {};
    // "继续传输" after a secure migration: its resume secret, proved by the reconnect instead of the address.
    std::optional<SessionKeys::Key> resumeSecret;
    int wrongCodes = 0;
    // Unpaired connections per address, counted when every place is taken (kept to spare allocations).
    std::vector<std::pair<uint32_t, int>> placesHeld;
    // What the view showed before strangers brought up the code page, shown again when they are gone.
    int pageBeforeCode = -1;
    int requestedPage = -1;
    int lastProgress = -1;
    PairingThrottle throttle;
    FileSystemSync written;
    std::string knownFolder; // the folder the last file was stored in
    std::unique_ptr<ReceivedFile> spare; // a temporary file made ahead for the next file
    EntryWriter entries;
    LeftoverSweep sweep;
    std::vector<char> slice; // content on its way to the file, allocated at the first file
};
