#pragma once

namespace TCP {
struct Client;
}

// True when the idle connection has been closed by the peer or has failed. Looks at the socket without
// waiting and without taking any byte out of the stream.
bool connectionLost(const TCP::Client& client);
