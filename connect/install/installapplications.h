#pragma once

#include <string>

class ReceiverEvents;

namespace TCP {
struct Client;
}

// The application phase of a migration, after the list arrived: waits for other package managers, answers
// "S3", installs the packages with the desktop's password prompt and sends the installation report.
// startProgress is where the transfer bar stood when the files were done.
void installApplications(TCP::Client* client, const std::string& list, ReceiverEvents& events, int startProgress);
