#include "app/exitnow.h"

#include <cstdio>
#include <cstdlib>

void exitNow()
{
    // Worker threads of the pages (the receiver's server, the sender's run, a folder scan) may still be
    // running, owned by objects that are never destroyed here; std::exit would run static destructors
    // and atexit handlers under their feet, so the process ends without either.
    std::fflush(nullptr);
    std::_Exit(0);
}
