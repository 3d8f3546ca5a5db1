#pragma once

#include <thread>

#include "net/hosttable.h"
#include "net/udpserver.h"

// The sender's ear: runs onConn over a bound UDP::Server on a thread of its own, filling the caller's table
// of receivers. The table, its flag and the server belong to the caller and must outlive the listener;
// stop() (and the destructor) join the thread before anything it reads can go.
class DiscoveryListener
{
public:
    DiscoveryListener(UDP::Server& server, HostTable& hosts, bool& hostsChanged);
    ~DiscoveryListener();
    DiscoveryListener(const DiscoveryListener&) = delete;
    DiscoveryListener& operator=(const DiscoveryListener&) = delete;

    // Binds the server's socket if needed, sets its client Connected and starts the thread; a running
    // listener is stopped first. False, with nothing running, when the port cannot be bound.
    bool start();
    // Sets the client NotConnected (unless a socket error closed it already), wakes the thread from its wait
    // and joins it, so the caller (the window, when pairing starts) does not wait out a whole wait. The
    // socket stays bound for the next start(). Never call it while holding `mutex`: the thread may be
    // waiting for it.
    void stop();
    bool running() const;

private:
    UDP::Server& server;
    HostTable& hosts;
    bool& hostsChanged;
    // Written by stop() to end the thread's wait at once.
    int wake = -1;
    std::thread thread;
};

// How long the listener waits on its socket before it prunes again without a datagram.
constexpr int ListenerWaitMs = 100;

// The listener loop: while c.state is Connected, wait up to ListenerWaitMs for a datagram, read at most 66
// bytes of it and hand it to takeDatagram (which prunes on every turn). A receive error closes c and ends
// the loop. wakeFd, when given, ends a wait early when it becomes readable (it is not read here).
void onConn(UDP::Client& c, HostTable& hosts, bool& hostsChanged, int wakeFd = -1);
