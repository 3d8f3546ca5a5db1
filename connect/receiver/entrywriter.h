#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "net/filemeta.h"

// Folder and link entries of a migration, and the folders' modes and times, which are given only at the
// end of the run (deepest first): every file written into a folder would change its time again, and a
// read-only folder would refuse the files still to come. Links are made as links and never followed;
// nothing is ever written through a link made here, wherever it points.
class EntryWriter
{
public:
    // Longest link target taken.
    static constexpr std::size_t MaxTarget = 4095;

    // True when a folder above `path` is a link made here, or with `itself`, path is one.
    bool throughMadeLink(const std::string& path, bool itself = true) const;

    // Makes the folder (and missing parents) unless it is there; its mode and time wait for finish().
    // A link to a folder that was already there is kept as it is. Returns ResultBits.
    uint8_t makeFolder(const std::string& path, const FileMeta& meta);
    // Makes the link with its time. Never replaces anything: a file, a folder or another link there
    // refuses it (a link with the same target is taken as made). Returns ResultBits.
    uint8_t makeLink(const std::string& path, const std::string& target, const FileMeta& meta);

    // Gives every folder of this run its mode and time, deepest first.
    void finish();
    // Forgets the links made as well (a new pairing).
    void clear();

private:
    std::unordered_set<std::string> madeLinks; // normalised paths
    std::vector<std::pair<std::string, FileMeta>> folders;
};
