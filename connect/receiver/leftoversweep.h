#pragma once

#include <string>
#include <unordered_set>

// Temporary files of a receiver are named ".movanta-<process id>-XXXXXX", so a later receiver can tell
// those of a receiver that was killed from those of one still at work, and remove the first.
class LeftoverSweep
{
public:
    // ".movanta-<this process's id>-".
    static std::string prefix();
    // Whether the temporary file `name` in `folder` belongs to no running receiver: its process is gone,
    // the id now belongs to another program, or that program started after the file was last changed.
    static bool isDead(const std::string& folder, const std::string& name);
    // Removes the dead temporary files of `folder` (not its subfolders); how many went.
    static int removeDead(const std::string& folder);

    // Removes them once per folder until clear().
    void sweep(const std::string& folder);
    void clear();

private:
    std::unordered_set<std::string> swept;
};
