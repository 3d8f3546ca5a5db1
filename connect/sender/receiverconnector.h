#pragma once

#include <memory>
#include <optional>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "net/secure/resumehandshake.h"
#include "net/secure/sessionkeys.h"

namespace TCP {
struct Client;
}

// Connects the sender to a receiver without ever blocking the thread it lives on (the GUI thread), so the
// window keeps answering. Attempts are spaced, so a receiver whose program has only just started is still
// found; for "继续传输" the receiver's first bytes tell whether it still knows this sender.
class ReceiverConnector : public QObject
{
    Q_OBJECT

public:
    enum Outcome {
        // No connection within the attempts and the time allowed.
        Failed = 0,
        // Connected; the receiver waits for the pairing code.
        NeedsCode = 1,
        // Connected to a receiver that still knows this sender: its free space is on the way.
        Known = 2,
    };

    struct Limits
    {
        int attempts = 9;
        // One attempt against an address that does not answer at all.
        int attemptMs = 3000;
        // Between a refused attempt and the next: a receiver starting up opens its port within this.
        int retryPauseMs = 250;
        // All attempts together.
        int connectMs = 10000;
        // How long a receiver that knows this sender may take to send its free space.
        int knownAnswerMs = 5000;
    };

    explicit ReceiverConnector(QObject* parent = nullptr);

    void setLimits(const Limits& limits);
    // Starts connecting `client`, which holds the receiver's address and must outlive the attempt. With
    // expectKnown, the connection is followed by the wait for the receiver's first bytes. With a resume
    // secret as well, the connection proves it first (a receiver of this program that offered the secure
    // channel): Known then means secured, and a receiver without the secret gives NeedsCode.
    void start(TCP::Client& client, bool expectKnown,
        const std::optional<SessionKeys::Key>& resumeSecret = std::optional<SessionKeys::Key>());
    // Drops a running attempt without a signal.
    void cancel();
    bool busy() const;

signals:
    void finished(int outcome);

private slots:
    void tick();

private:
    enum class Stage { Idle, Connecting, Pausing, Listening };

    void beginAttempt();
    void attemptFailed();
    void finish(Outcome outcome);
    // One step of the reconnect proving the resume secret.
    void proveSecret();

    Limits limits;
    QTimer ticker;
    QElapsedTimer sinceStart;
    QElapsedTimer sinceStage;
    TCP::Client* client = nullptr;
    Stage stage = Stage::Idle;
    bool expectKnown = false;
    std::optional<SessionKeys::Key> secret;
    std::unique_ptr<ResumeHandshake> resume;
    int attempt = 0;
};
