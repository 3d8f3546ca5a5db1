#pragma once

#include <memory>

#include <QString>

#include "wizardpeer.h"

// Two computers on one machine for a whole-migration test: two wizard programs, each in a network
// namespace of its own, joined by a veth pair made in the test's namespace. The rig keeps both namespaces
// open, so a computer keeps its link and address when its program is killed and a new program can join it.
class TwoComputers
{
public:
    struct Side
    {
        QString home;
        QString workDir;
    };

    // receiverAddress and senderAddress with their prefix, e.g. "10.213.0.1/24".
    TwoComputers(QString program, QString receiverAddress, QString senderAddress);
    ~TwoComputers();
    TwoComputers(const TwoComputers&) = delete;
    TwoComputers& operator=(const TwoComputers&) = delete;

    // Starts both programs and links them. When the namespaces or the link cannot be made the process ends
    // as a skipped test (77) after saying why; other failures return false with the reason in error().
    bool start(const Side& receiverSide, const Side& senderSide);

    Peer& receiver() { return *receiverPeer; }
    Peer& sender() { return *senderPeer; }

    // A new program on the computer whose program was killed, up when it returns true.
    bool restartReceiver();
    bool restartSender();

    // Asks both programs to quit; false when one did not end cleanly (its output goes to the log).
    bool quitBoth();

    QString error() const { return why; }

private:
    struct Computer
    {
        Side side;
        QString role;
        int netns = -1; // keeps the computer's network alive between its programs
    };

    bool startPeer(Computer& computer, std::unique_ptr<Peer>& peer, bool join);
    bool restart(Computer& computer, std::unique_ptr<Peer>& peer);
    QString joinPath(const Computer& computer) const;

    QString program;
    QString receiverAddress;
    QString senderAddress;
    Computer receiverComputer;
    Computer senderComputer;
    std::unique_ptr<Peer> receiverPeer;
    std::unique_ptr<Peer> senderPeer;
    QString why;
};

// Ends the test program as skipped, after saying why on the error stream.
[[noreturn]] void skipTest(const QString& why);
