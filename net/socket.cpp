#include "net/socket.h"

namespace Socket {

const uint64_t OptVal = 1;

} // namespace Socket
