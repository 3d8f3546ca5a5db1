#pragma once

#include <string>

namespace TCP {
struct Client;
}

// The application phase of a migration, after the list arrived: answers "S3" and sends the installation
// report. The package installation itself is not wired in yet, so the report is empty.
void installApplications(TCP::Client* client, const std::string& list);
