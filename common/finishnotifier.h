#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include <QDBusConnection>
#include <QString>

// Tells a user who went away that a long migration has ended: a desktop notification over the session
// bus when the run took longer than a threshold and its window is not the active one. Failures are
// silent, the window shows the end anyway.
class FinishNotifier
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    FinishNotifier();

    // Runs shorter than this end without a notification (a minute unless set).
    void setThreshold(std::chrono::milliseconds threshold) { minimum = threshold; }
    void setClock(Clock now) { clock = std::move(now); }
    // The bus to notify on instead of the session bus.
    void useBus(const QDBusConnection& connection) { bus = connection; }

    // A run starts; a run already under way keeps its start.
    void started();
    bool running() const { return since.has_value(); }
    // The run is over: notifies when it was long and the window is not active. True when a notification
    // was sent off (whether anyone shows it is the desktop's business).
    bool ended(bool windowActive, const QString& summary, const QString& body);
    // The run is over and nothing is to be said about it.
    void forget() { since.reset(); }

private:
    std::chrono::milliseconds minimum;
    Clock clock;
    std::optional<QDBusConnection> bus;
    std::optional<std::chrono::steady_clock::time_point> since;
};
