#include "connect/install/installapplications.h"

#include <cstdlib>

#include "connect/install/appinstaller.h"
#include "connect/install/installeroutput.h"
#include "connect/receiver/receiverevents.h"
#include "net/tcpclient.h"
#include "net/wire.h"

void installApplications(TCP::Client* client, const std::string& list, ReceiverEvents& events, int startProgress,
    const std::atomic<bool>& stop)
{
    bool started = false;
    AppInstallerHooks hooks;
    hooks.installStarted = [client, &started] {
        started = true;
        Wire::sendInstallStarted(*client);
    };
    hooks.updateText = [&events](const std::string& text) {
        events.itemChanged(text);
        if (const std::optional<std::string> name = getPackageInLine(text))
            events.packageInstalling(*name);
    };
    hooks.updateProgress = [&events](int percent) { events.progressChanged(percent); };

    const char* home = std::getenv("HOME");
    AppInstaller installer(home ? home : "", hooks, startProgress);
    const std::string report = installer.run(list, &stop);
    // A list that names no package is never answered with "S3", so no report follows either.
    if (started && !stop) {
        Wire::sendReport(*client, report);
    }
}
