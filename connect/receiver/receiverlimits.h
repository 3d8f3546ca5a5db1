#pragma once

#include <chrono>

// How long the receiver waits on, and trusts, the connections it has not paired. Tests shorten them.
struct ReceiverLimits
{
    using Duration = std::chrono::steady_clock::duration;

    // "继续传输": after a migration ended or broke, its sender's address may start one more without the
    // code for this long, while the receiver still shows that end.
    Duration resumeWindow = std::chrono::minutes(10);
    // A connection that began a code must complete six bytes within this, or it is closed.
    Duration codeLimit = std::chrono::seconds(5);
    // Fewer than six bytes that stay that way this long are a short code, dropped.
    Duration shortCodeWait = std::chrono::milliseconds(100);
    // When every place is taken, an unpaired connection idle this long gives its place up.
    Duration giveWayAfter = std::chrono::seconds(1);
    // A connection that has neither spoken nor gone this long brings up the code page; a port scanner's
    // connect-and-close is gone long before.
    Duration showCodeAfter = std::chrono::milliseconds(300);
    // Wrong codes from which the code page tells how many were tried, and after which a new code is drawn.
    int wrongCodesShown = 20;
    int wrongCodesNewCode = 200;
    // The pace of pairing attempts (PairingThrottle).
    int pairingBurst = 5;
    Duration pairingInterval = std::chrono::seconds(1);
};
