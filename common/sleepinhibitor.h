#pragma once

#include <memory>

#include <QDBusConnection>
#include <QString>

class QDBusPendingCallWatcher;

// Keeps the computer from suspending or going idle while it lives: the login manager's inhibitor lock,
// asked for over D-Bus and held as the file descriptor the login manager hands out. Destroying the object
// closes it, which releases the lock. Without a bus or a login manager nothing happens and nothing fails.
// The answer arrives on the event loop of the thread that made the object; the window never waits for it.
class SleepInhibitor
{
public:
    // `why` is the reason the desktop shows to someone who looks at what keeps the computer awake.
    explicit SleepInhibitor(const QString& why, QDBusConnection bus = QDBusConnection::systemBus());
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    // The login manager granted the lock and this object holds it.
    bool holding() const { return fd >= 0; }
    // The request is still on its way.
    bool waiting() const { return watcher != nullptr; }

private:
    void answered(QDBusPendingCallWatcher* call);

    std::unique_ptr<QDBusPendingCallWatcher> watcher;
    int fd = -1;
};
