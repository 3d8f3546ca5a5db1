#pragma once

#include <memory>

#include <QObject>

#include "common/finishnotifier.h"

class NewPCConnectPage;
class OldPCConnectPage;
class QWidget;
class SleepInhibitor;

// Follows a role page from the moment its migration starts until it ends, whichever way: meanwhile the
// computer is kept from suspending or going idle, so a laptop left alone does not break the migration,
// and a user who went away hears of a long migration's end through the desktop.
class MigrationWatch : public QObject
{
    Q_OBJECT

public:
    // Lives as long as `window`; the end is worth a notification only while no window of the program is
    // active.
    explicit MigrationWatch(QWidget* window);
    ~MigrationWatch() override;

    // The receiver migrates from the moment it shows the transfer page (it then waits for the sender's
    // selection) until it reports the end; the sender from the start of its send run until the report.
    void watchReceiver(NewPCConnectPage* page);
    void watchSender(OldPCConnectPage* page);

    bool running() const { return awake != nullptr; }
    FinishNotifier& finishNotifier() { return notifier; }

public slots:
    void started();
    void ended(int code);
    // The role page is left: whatever it ran is over, and nothing is said about it.
    void stopped();

private:
    std::unique_ptr<SleepInhibitor> awake;
    FinishNotifier notifier;
};
