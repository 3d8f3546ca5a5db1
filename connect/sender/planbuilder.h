#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "connect/sender/sendsession.h"
#include "select/model/selectionmodel.h"

// The plan of one run from the selection and what the chosen receiver announced: folders and links only
// when its capabilities say it takes them (CapabilityMark::Entries), after the files. With a hold on
// `files` (SelectionModel::holdFiles) the plan borrows their paths; without one it copies them.
SendPlan makeSendPlan(const FileMap& files, std::shared_ptr<const void> hold, const EntryMap& entries,
    const AppMap& apps, uint64_t selectedFileSize, uint32_t receiverCapabilities,
    const std::optional<std::string>& home);
