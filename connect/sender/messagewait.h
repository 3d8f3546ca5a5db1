#pragma once

#include <cstddef>

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace TCP {
struct Client;
}

// Collects one short message (the pairing reply, the free-space report) without ever blocking the thread it
// lives on, so the window answers while the receiver takes its time, and gives up after a time limit. A
// receiver that sends half a message and stalls is a lost connection, not a frozen window.
class MessageWait : public QObject
{
    Q_OBJECT

public:
    explicit MessageWait(QObject* parent = nullptr);

    // Waits for `size` raw bytes (the caller removes the key) on `client`, which must outlive the wait.
    void expect(TCP::Client& client, std::size_t size, int timeoutMs);
    void cancel();
    bool busy() const;

signals:
    void arrived(QByteArray bytes);
    // Closed, failed or too late; the connection is of no further use.
    void failed();

private slots:
    void tick();

private:
    void finish(bool complete);

    QTimer ticker;
    QElapsedTimer clock;
    TCP::Client* client = nullptr;
    QByteArray bytes;
    std::size_t wanted = 0;
    int timeoutMs = 0;
};
