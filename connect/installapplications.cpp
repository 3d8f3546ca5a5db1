#include "connect/installapplications.h"

#include "net/tcpclient.h"
#include "net/wire.h"

void installApplications(TCP::Client* client, const std::string& list)
{
    (void)list;
    Wire::sendInstallStarted(*client);
    Wire::sendReport(*client, std::string());
}
