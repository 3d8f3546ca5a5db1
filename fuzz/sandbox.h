#pragma once

#include <string>

// A throw-away root for the fuzzed receiver. The process moves into a mount namespace of its own and
// chroots into a small tmpfs that holds only what the receiver may touch: the home, an empty /data for the
// shared folder, fake package tools, and a sentinel tree that must never change. The system folders are
// bound in read-only; `keep` (the fuzzer's own work folder, for the corpus and crash files) is bound in
// writable at the same path. False, with the reason in `why`, when any of that cannot be set up.
namespace FuzzSandbox {

constexpr const char* Home = "/home/fuzz";
constexpr const char* FakeTools = "/fake";
constexpr const char* ExecLog = "/exec.log";
constexpr const char* Sentinel = "/sentinel";
constexpr const char* Shared = "/data/usershare";

bool enter(const std::string& box, const std::string& keep, std::string& why);

} // namespace FuzzSandbox
