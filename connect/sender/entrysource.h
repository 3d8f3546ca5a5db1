#pragma once

#include <string>

#include <sys/stat.h>

#include "net/filemeta.h"

// The record of an entry as the sender's file system has it: kind, permission bits, modification time.
FileMeta metaFromStat(const struct stat& info, FileMeta::Kind kind);

// A folder or a link met inside a chosen folder, looked at for sending without following it: its record
// and, for a link, its target text (the content it travels with).
class EntrySource
{
public:
    enum class Status {
        Ready,
        Missing, // gone, or no longer of its kind since it was selected
        Unreadable, // any other reason (a target too long to travel, say)
    };

    // Longest link target that travels (the receiver takes no more).
    static constexpr std::size_t MaxTarget = 4095;

    EntrySource(const std::string& path, FileMeta::Kind kind);

    Status status() const { return state; }
    // Always filled; marked unreadable unless Ready.
    const FileMeta& meta() const { return record; }
    // A link's target; empty for a folder.
    const std::string& content() const { return target; }

private:
    Status state = Status::Unreadable;
    FileMeta record;
    std::string target;
};
