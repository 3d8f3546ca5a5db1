#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "connect/receiver/receiverengine.h"
#include "connect/receiver/receiverevents.h"
#include "connect/sender/sendobserver.h"
#include "connect/sender/sendsession.h"
#include "connect/sender/sendworker.h"
#include "net/secure/sessionkeys.h"
#include "net/tcpclient.h"
#include "net/tcpserver.h"

// A real receiver engine behind a real server on loopback, and a real sender engine, for tests that break
// the road between them. The receiver writes below whatever HOME says when a file arrives.
namespace MigrationRig {

constexpr uint16_t ReceiverPort = 4399;
const std::string Code = "246810";

// What the receiver told its page, from the service thread.
class RecordingEvents : public ReceiverEvents
{
public:
    int shownPage() const override;
    void showPage(int index) override;
    void transferStarted() override { }
    void stageChanged(int) override { }
    void progressChanged(int percent) override;
    void itemChanged(const std::string& text) override;
    void workChanged(const std::string& text) override;
    void finished(int code) override;

    std::vector<int> finishedCodes() const;
    std::vector<std::string> items() const;
    bool progressOutOfRange() const { return badProgress; }
    void clear();

private:
    mutable std::mutex mutex;
    int page = 0;
    std::vector<int> codes;
    std::vector<std::string> texts;
    std::atomic<bool> badProgress {false};
};

class Receiver
{
public:
    Receiver();
    ~Receiver();
    // False when the port cannot be bound.
    bool start();
    void stop();
    std::size_t connections() const;
    RecordingEvents events;
    // Only while stopped.
    ReceiverEngine& engine() { return *receiver; }

private:
    static void onConnection(TCP::Client* client, void* self);
    std::unique_ptr<ReceiverEngine> receiver;
    std::unique_ptr<TCP::Server> server;
};

struct ItemResult
{
    int code;
    std::string name;
    uint64_t size;
};

class RecordingObserver : public SendObserver
{
public:
    void runStarted(TimePoint) override { }
    void currentItem(const std::string&) override { }
    void progress(int percent) override;
    void passwordNotice() override { }
    void itemResult(int result, const std::string& name, uint64_t size, TimePoint) override;
    void runFinished() override { done = true; }

    std::vector<ItemResult> results() const;
    bool finished() const { return done; }
    bool progressOutOfRange() const { return badProgress; }

private:
    mutable std::mutex mutex;
    std::vector<ItemResult> items;
    std::atomic<bool> done {false};
    std::atomic<bool> badProgress {false};
};

// The old computer: connects, pairs unless it is still paired, reads the free space and runs a plan on
// the sender engine's worker thread.
// Shuts a connection down when a wait on it lasts past the deadline, so a test that finds the other side
// stuck fails instead of hanging.
class Watchdog
{
public:
    Watchdog(TCP::Client& client, int timeoutMs);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool fired() const { return didFire; }

private:
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    std::atomic<bool> didFire {false};
    std::thread thread;
};

class Sender
{
public:
    ~Sender();
    // ResumeUnknown: a secure reconnect that the receiver no longer knows, when no code is given to pair
    // with instead (else the code is given on the same connection and resumeRefused tells).
    enum class Opened { Ready, ConnectFailed, PairingLost, WrongCode, FreeSpaceLost, ResumeUnknown };
    // Gives up (PairingLost or FreeSpaceLost) when the receiver has not answered within timeoutMs.
    Opened open(uint16_t port, const std::string& code = Code, int timeoutMs = 60000);
    void start(SendPlan plan);
    // Waits for the run's end; false when it did not end in time (the run is then stopped).
    bool finish(int timeoutMs = 60000);
    RecordingObserver observer;
    bool paired = false;
    // Pair by the secure handshake (a receiver that offers it) and resume by its secret.
    bool secure = false;
    std::optional<SessionKeys::Key> resumeSecret;
    bool resumeRefused = false;
    TCP::Client client;

private:
    SendWorker worker;
};

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& content);
std::string sha256(const std::string& bytes);
std::string randomBytes(std::size_t n, unsigned seed);
// Paths of the receiver's temporary files left anywhere below `dir`.
std::vector<std::string> leftovers(const std::string& dir);
// Every regular file below `dir`, relative to it.
std::vector<std::string> filesBelow(const std::string& dir);
// Fake package tools that only log to `log`, for a PATH that must never reach the real ones.
bool writeFakeTools(const std::string& dir, const std::string& log);

} // namespace MigrationRig
