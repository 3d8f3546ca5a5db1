#pragma once

// Ends the process at once with status 0: no window is closed, no page unloaded, no thread joined.
// Buffered standard output and report lines are flushed first so nothing already written is lost.
[[noreturn]] void exitNow();
