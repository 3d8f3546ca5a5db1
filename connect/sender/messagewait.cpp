#include "connect/sender/messagewait.h"

#include "net/tcpclient.h"

namespace {

constexpr int TickMs = 5;

} // namespace

MessageWait::MessageWait(QObject* parent) : QObject(parent)
{
    ticker.setInterval(TickMs);
    connect(&ticker, &QTimer::timeout, this, &MessageWait::tick);
}

void MessageWait::expect(TCP::Client& target, std::size_t size, int limitMs)
{
    cancel();
    client = &target;
    wanted = size;
    timeoutMs = limitMs;
    bytes.clear();
    bytes.reserve(static_cast<int>(size));
    clock.start();
    ticker.start();
    // Often the message is already there.
    tick();
}

void MessageWait::cancel()
{
    ticker.stop();
    client = nullptr;
}

bool MessageWait::busy() const
{
    return client != nullptr;
}

void MessageWait::tick()
{
    if (!client) {
        ticker.stop();
        return;
    }
    // Read only what is there: a read of a quiet socket would wait.
    while (static_cast<std::size_t>(bytes.size()) < wanted && client->WaitReadable(0)) {
        char piece[64];
        const std::size_t missing = wanted - static_cast<std::size_t>(bytes.size());
        const std::size_t ask = missing < sizeof(piece) ? missing : sizeof(piece);
        client->RecvUnkeyed(ask, false, piece);
        if (client->state != TCP::Connected) {
            finish(false);
            return;
        }
        if (client->length <= 0) {
            break;
        }
        bytes.append(piece, static_cast<int>(client->length));
    }
    if (static_cast<std::size_t>(bytes.size()) == wanted) {
        finish(true);
    } else if (clock.elapsed() >= timeoutMs) {
        finish(false);
    }
}

void MessageWait::finish(bool complete)
{
    ticker.stop();
    client = nullptr;
    if (complete) {
        emit arrived(bytes);
    } else {
        emit failed();
    }
}
