#include "common/sleepinhibitor.h"

#include <atomic>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

namespace {

// A migration may start several times in one run; one line about a missing service is enough.
void sayOnce(const QString& why)
{
    static std::atomic<bool> said {false};
    if (!said.exchange(true)) {
        std::fprintf(stderr, "keep awake: %s; the computer may suspend during the migration\n", qPrintable(why));
    }
}

} // namespace

SleepInhibitor::SleepInhibitor(const QString& why, QDBusConnection bus)
{
    if (!bus.isConnected()) {
        sayOnce(QStringLiteral("no system bus"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Movanta") << why << QStringLiteral("block");
    watcher = std::make_unique<QDBusPendingCallWatcher>(bus.asyncCall(call));
    QObject::connect(watcher.get(), &QDBusPendingCallWatcher::finished, watcher.get(),
        [this](QDBusPendingCallWatcher* finished) { answered(finished); });
}

SleepInhibitor::~SleepInhibitor()
{
    // A lock granted after this point goes with the watcher's reply, which is dropped unread.
    watcher.reset();
    if (fd >= 0) {
        ::close(fd);
    }
}

void SleepInhibitor::answered(QDBusPendingCallWatcher* call)
{
    QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    if (reply.isError()) {
        sayOnce(reply.error().name());
    } else if (reply.value().isValid()) {
        // Our own copy, closed on exec, so a program started meanwhile (a viewer) cannot keep the lock.
        fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    }
    // Deleting the watcher inside its own signal is not allowed; the reply's copy goes with it.
    watcher.release()->deleteLater();
}
