#pragma once

#include <atomic>
#include <string>

class ReceiverEvents;

namespace TCP {
struct Client;
}

// The application phase of a migration, after the list arrived: waits for other package managers, answers
// "S3", installs the packages with the desktop's password prompt and sends the installation report.
// startProgress is where the transfer bar stood when the files were done. A set `stop` ends the phase within
// about a second, the installer ended and no report sent: the caller drops the connection, so the sender
// counts every application as not installed.
void installApplications(TCP::Client* client, const std::string& list, ReceiverEvents& events, int startProgress,
    const std::atomic<bool>& stop);
