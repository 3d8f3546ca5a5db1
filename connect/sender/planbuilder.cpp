#include "connect/sender/planbuilder.h"

#include <utility>

#include "net/capabilitymark.h"

SendPlan makeSendPlan(FileMap files, const EntryMap& entries, const AppMap& apps, uint64_t selectedFileSize,
    uint32_t receiverCapabilities, const std::optional<std::string>& home)
{
    SendPlan plan;
    plan.entriesUnderstood = (receiverCapabilities & CapabilityMark::Entries) != 0;
    plan.files.reserve(files.size() + (plan.entriesUnderstood ? entries.size() : 0));
    // Node by node: each path changes hands without a copy, and the map shrinks as the plan grows.
    while (!files.empty()) {
        auto node = files.extract(files.begin());
        plan.files.emplace_back(std::move(node.key()), node.mapped());
    }
    if (plan.entriesUnderstood) {
        for (const auto& [path, kind] : entries) {
            plan.files.emplace_back(path, 0);
            plan.entryKinds.emplace(path, kind);
        }
    }
    for (const auto& [name, info] : apps) {
        if (info.checked) {
            plan.checkedApps.push_back(name);
        }
    }
    plan.appCount = apps.size();
    plan.selectedFileSize = selectedFileSize;
    plan.home = home;
    return plan;
}
