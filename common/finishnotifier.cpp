#include "common/finishnotifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

FinishNotifier::FinishNotifier()
    : minimum(std::chrono::minutes(1)), clock([] { return std::chrono::steady_clock::now(); })
{ }

void FinishNotifier::started()
{
    if (!since) {
        since = clock();
    }
}

bool FinishNotifier::ended(bool windowActive, const QString& summary, const QString& body)
{
    if (!since) {
        return false;
    }
    const auto took = clock() - *since;
    since.reset();
    if (windowActive || took <= minimum) {
        return false;
    }
    // The session bus only now: a user who never runs a long migration never needs one.
    QDBusConnection connection = bus ? *bus : QDBusConnection::sessionBus();
    if (!connection.isConnected()) {
        return false;
    }
    QDBusMessage notify = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.movanta.Movanta"));
    notify << QStringLiteral("Movanta") << uint(0) << QStringLiteral("movanta") << summary << body << QStringList()
           << hints << int(-1);
    // No answer is awaited: a desktop without the service simply shows nothing.
    return connection.send(notify);
}
