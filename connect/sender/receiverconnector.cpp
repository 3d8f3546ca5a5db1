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

void ReceiverConnector::start(
    TCP::Client& target, bool knownExpected, const std::optional<SessionKeys::Key>& resumeSecret)
{
    cancel();
    client = &target;
    expectKnown = knownExpected;
    secret = knownExpected ? resumeSecret : std::nullopt;
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
    resume.reset();
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
    resume.reset();
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
        if (secret) {
            proveSecret();
        } else if (!expectKnown) {
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

void ReceiverConnector::proveSecret()
{
    if (!resume) {
        resume = std::make_unique<ResumeHandshake>(ResumeHandshake::Role::Initiator, secret);
        const QByteArray opening = resume->start();
        if (opening.isEmpty()
            || client->SendUnkeyed(opening.constData(), static_cast<unsigned long>(opening.size()), true) < 0) {
            client->Close();
            finish(Failed);
        }
        return;
    }
    char bytes[ResumeHandshake::ReplyBytes];
    const int64_t n = client->RecvPending(bytes, sizeof(bytes));
    if (n < 0) {
        finish(Failed);
        return;
    }
    if (n > 0) {
        const QByteArray out = resume->feed(QByteArray(bytes, static_cast<int>(n)));
        if (!out.isEmpty() && client->SendUnkeyed(out.constData(), static_cast<unsigned long>(out.size()), true) < 0) {
            finish(Failed);
            return;
        }
    }
    switch (resume->state()) {
    case ResumeHandshake::State::Done: {
        const QByteArray excess = resume->takeExcess();
        if (client->Secure(resume->keys(), excess.constData(), static_cast<std::size_t>(excess.size()))) {
            finish(Known);
        } else {
            finish(Failed);
        }
        return;
    }
    case ResumeHandshake::State::Failed:
        // A receiver restarted meanwhile (or whose window closed) holds no secret: the code again, here.
        if (resume->failure() == ResumeHandshake::Failure::UnknownSecret) {
            finish(NeedsCode);
        } else {
            // A wrong proof, or plain bytes from a receiver that offered the secure channel: never trusted.
            client->Close();
            finish(Failed);
        }
        return;
    case ResumeHandshake::State::Running:
        if (sinceStage.elapsed() >= limits.knownAnswerMs) {
            client->Close();
            finish(Failed);
        }
        return;
    }
}

void ReceiverConnector::finish(Outcome outcome)
{
    ticker.stop();
    resume.reset();
    stage = Stage::Idle;
    client = nullptr;
    emit finished(outcome);
}
