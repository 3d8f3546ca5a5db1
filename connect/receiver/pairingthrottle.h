#pragma once

#include <chrono>
#include <cstdint>
#include <set>

// Decides when the next pairing code may be checked, for all connections together: the first few
// attempts at once, then about one per second, so a million codes take weeks to try. Connections take a
// ticket when their code arrives and are served oldest first, so a flood from one peer cannot starve
// the real sender. Nothing here sleeps; a connection that must wait simply asks again later.
class PairingThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    explicit PairingThrottle(int burst = 5, Clock::duration interval = std::chrono::seconds(1));

    // A place in the queue; never 0.
    uint64_t takeTicket();
    // Gives up a place (the connection went away). Unknown tickets are ignored.
    void dropTicket(uint64_t ticket);
    // True when `ticket` is first in the queue and an attempt is due at `now`; the ticket is then used up.
    bool tryAcquire(uint64_t ticket, Clock::time_point now);
    // Forgets every ticket; the pace already spent stays.
    void clearTickets();

private:
    const int burst;
    const Clock::duration interval;
    // When the allowance is fully spent again (the earliest time the burst is back); in the past at start.
    Clock::time_point theoretical {};
    bool started = false;
    uint64_t nextTicket = 1;
    std::set<uint64_t> waiting;
};
