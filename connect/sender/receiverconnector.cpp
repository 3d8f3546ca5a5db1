#include "connect/sender/receiverconnector.h"

#include "net/tcpclient.h"

namespace {

// Often enough that a connection on a LAN is taken up at once, rarely enough to cost nothing.
constexpr int TickMs = 5;

} // namespace

ReceiverConnector::ReceiverConnector(QObject* parent) : QObject(parent)
{
    ticker.setInterval(TickMs);
    connect(&ticker, &QTimer::timeout, this, &ReceiverConnector::tick);
}

void ReceiverConnector::setLimits(const Limits& newLimits)
{
    limits = newLimits;
}

void ReceiverConnector::start(TCP::Client& target, bool knownExpected)
{
    cancel();
    client = &target;
    expectKnown = knownExpected;
    attempt = 0;
    sinceStart.start();
    beginAttempt();
    if (stage != Stage::Idle) {
        ticker.start();
    }
}

void ReceiverConnector::cancel()
{
    ticker.stop();
    stage = Stage::Idle;
    client = nullptr;
}

bool ReceiverConnector::busy() const
{
    return stage != Stage::Idle;
}

void ReceiverConnector::beginAttempt()
{
    ++attempt;
    stage = Stage::Connecting;
    sinceStage.start();
    switch (client->BeginConnect()) {
    case TCP::Client::ConnectStep::Connected:
        stage = Stage::Listening;
        sinceStage.start();
        tick();
        break;
    case TCP::Client::ConnectStep::Pending:
        break;
    case TCP::Client::ConnectStep::Failed:
        attemptFailed();
        break;
    }
}

void ReceiverConnector::attemptFailed()
{
    if (attempt >= limits.attempts || sinceStart.elapsed() + limits.retryPauseMs >= limits.connectMs) {
        finish(Failed);
        return;
    }
    stage = Stage::Pausing;
    sinceStage.start();
}

void ReceiverConnector::tick()
{
    switch (stage) {
    case Stage::Idle:
        ticker.stop();
        return;
    case Stage::Pausing:
        if (sinceStage.elapsed() >= limits.retryPauseMs) {
            beginAttempt();
        }
        return;
    case Stage::Connecting:
        switch (client->PollConnect()) {
        case TCP::Client::ConnectStep::Connected:
            stage = Stage::Listening;
            sinceStage.start();
            break;
        case TCP::Client::ConnectStep::Pending:
            if (sinceStage.elapsed() >= limits.attemptMs || sinceStart.elapsed() >= limits.connectMs) {
                client->Close();
                attemptFailed();
            }
            return;
        case TCP::Client::ConnectStep::Failed:
            attemptFailed();
            return;
        }
        [[fallthrough]];
    case Stage::Listening:
        if (!expectKnown) {
            finish(NeedsCode);
        } else if (client->WaitReadable(0)) {
            // Bytes, or a close that Paired() will find: either way this receiver answered as one that
            // knows the sender.
            finish(Known);
        } else if (sinceStage.elapsed() >= limits.knownAnswerMs) {
            finish(NeedsCode);
        }
        return;
    }
}

void ReceiverConnector::finish(Outcome outcome)
{
    ticker.stop();
    stage = Stage::Idle;
    client = nullptr;
    emit finished(outcome);
}
