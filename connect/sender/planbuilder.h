#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "connect/sender/sendsession.h"
#include "select/model/selectionmodel.h"

// The plan of one run from the selection and what the chosen receiver announced: folders and links only
// when its capabilities say it takes them (CapabilityMark::Entries), after the files. The paths are moved
// out of `files` (a million of them are worth not copying).
SendPlan makeSendPlan(FileMap files, const EntryMap& entries, const AppMap& apps, uint64_t selectedFileSize,
    uint32_t receiverCapabilities, const std::optional<std::string>& home);
