#pragma once

#include <atomic>
#include <thread>

#include "connect/sender/sendsession.h"

namespace TCP {
struct Client;
}
class SendObserver;

// Owns the thread of one send run. The owner stops it before the connection, the observer or anything the
// observer reaches is freed; the destructor does so too.
class SendWorker
{
public:
    SendWorker() = default;
    ~SendWorker();
    SendWorker(const SendWorker&) = delete;
    SendWorker& operator=(const SendWorker&) = delete;

    // Runs the plan on a new thread; the run is the only user of client until it ends. A finished earlier
    // run is joined first.
    void start(TCP::Client& client, SendObserver& observer, SendPlan plan);

    // True from start until the run has returned.
    bool running() const { return active; }

    // Abandons the run: the observer hears nothing more, the socket is shut down so that any wait on it
    // ends at once, and the thread is joined.
    void stop();

    // Waits for the run to end by itself.
    void join();

private:
    std::thread thread;
    std::atomic<bool> cancelled {false};
    std::atomic<bool> active {false};
    TCP::Client* client = nullptr;
};
