#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

class QThread;

// A message bus of the test's own: a dbus-daemon on a unix socket in a temporary folder, with no service
// files (nothing is started on demand) and everything allowed. Stopped with the object.
class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // False when dbus-daemon is missing or does not come up; why() says what went wrong.
    bool start();
    QString address() const { return busAddress; }
    QString why() const { return failure; }

private:
    QTemporaryDir dir;
    QProcess daemon;
    QString busAddress;
    QString failure;
};

// The login manager as far as inhibitor locks go: it records every Inhibit call and hands out the write
// end of a pipe, as the real one does; the lock counts as released when every copy of that end is closed.
class FakeLogin : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    struct Call
    {
        QString what, who, why, mode;
    };

    ~FakeLogin() override;

    std::vector<Call> calls() const;
    int callCount() const;
    // Whether every copy of the descriptor handed out by call `index` is closed.
    bool released(int index) const;
    // Locks handed out and not released yet.
    int held() const;
    // Answers are held back this long (for a caller that gives up before the answer).
    void setAnswerDelay(int ms) { delayMs = ms; }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode);

private:
    mutable std::mutex mutex;
    std::vector<Call> recorded;
    std::vector<int> readEnds;
    std::atomic<int> delayMs {0};
};

// The desktop's notification service: records every Notify call.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString app, icon, summary, body;
        uint replaces = 0;
        int timeout = 0;
    };

    std::vector<Call> calls() const;
    int callCount() const;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap& hints, int timeout);

private:
    mutable std::mutex mutex;
    std::vector<Call> recorded;
};

// Both fakes on a bus, served on a thread of their own, so a caller on the test's thread that blocks for an
// answer still gets one. Either can be left out to play a desktop without that service.
class FakeServices
{
public:
    enum Service { Login = 1, Notifications = 2 };

    FakeServices(const QString& busAddress, int services);
    ~FakeServices();
    FakeServices(const FakeServices&) = delete;
    FakeServices& operator=(const FakeServices&) = delete;

    // Both services own their names on the bus.
    bool ready() const { return registered; }
    FakeLogin& login() { return *loginService; }
    FakeNotifications& notifications() { return *notificationService; }

private:
    QString connectionName;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<FakeLogin> loginService;
    std::unique_ptr<FakeNotifications> notificationService;
    bool registered = false;
};
