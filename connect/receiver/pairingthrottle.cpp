#include "connect/receiver/pairingthrottle.h"

#include <algorithm>

PairingThrottle::PairingThrottle(int freeAttempts, Clock::duration spacing)
    : burst(std::max(1, freeAttempts)), interval(spacing)
{ }

uint64_t PairingThrottle::takeTicket()
{
    const uint64_t ticket = nextTicket++;
    waiting.insert(ticket);
    return ticket;
}

void PairingThrottle::dropTicket(uint64_t ticket)
{
    waiting.erase(ticket);
}

void PairingThrottle::clearTickets()
{
    waiting.clear();
}

bool PairingThrottle::tryAcquire(uint64_t ticket, Clock::time_point now)
{
    if (waiting.empty() || *waiting.begin() != ticket) {
        return false;
    }
    if (!started) {
        theoretical = now;
        started = true;
    }
    // Generic cell rate: an attempt is due while the backlog of spent intervals stays below the burst.
    if (theoretical - now > interval * (burst - 1)) {
        return false;
    }
    theoretical = std::max(theoretical, now) + interval;
    waiting.erase(waiting.begin());
    return true;
}
