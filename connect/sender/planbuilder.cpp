#include "connect/sender/planbuilder.h"

#include <utility>

#include "net/capabilitymark.h"

SendPlan makeSendPlan(const FileMap& files, std::shared_ptr<const void> hold, const EntryMap& entries,
    const AppMap& apps, uint64_t selectedFileSize, uint32_t receiverCapabilities,
    const std::optional<std::string>& home)
{
    SendPlan plan;
    plan.entriesUnderstood = (receiverCapabilities & CapabilityMark::Entries) != 0;
    plan.files.reserve(files.size() + (plan.entriesUnderstood ? entries.size() : 0));
    if (hold) {
        plan.files.lend(files, std::move(hold));
    } else {
        for (const auto& [path, size] : files) {
            plan.files.emplace_back(path, size);
        }
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
