#pragma once

namespace MovantaTest {

// Moves this process into a fresh network namespace of its own, with only loopback up and a default route
// through it, so broadcasts and connects never leave the process's private network. Must be called
// before any thread starts. When no namespace can be made the process exits with status 77 (CTest's
// "skipped") after saying why: a test never runs on the host's network.
void enterPrivateNetwork();

// Offscreen platform unless the caller chose one (screenshots under Xvfb set QT_QPA_PLATFORM=xcb).
void useOffscreenPlatform();

} // namespace MovantaTest
