#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The files of one run in plan order, each with the size recorded at selection. A path is either owned by
// the list or lent by a map that a hold keeps in place and unchanged while the list lives: a selection of a
// million files is then sent without a second copy of its paths (8 bytes per file instead of about 100).
class PlanFiles
{
public:
    using File = std::pair<const std::string&, uint64_t>;
    // Path → size, as the selection keeps its files.
    using Map = std::unordered_map<std::string, uint64_t>;

    PlanFiles() = default;
    PlanFiles(std::initializer_list<std::pair<std::string, uint64_t>> files);

    void push_back(std::pair<std::string, uint64_t> file);
    void emplace_back(std::string path, uint64_t size);
    // Every file of map, in its order. hold must keep map's entries where they are and unchanged for as
    // long as this list or a copy of it lives.
    void lend(const Map& map, std::shared_ptr<const void> hold);
    void reserve(std::size_t count) { refs.reserve(count); }

    std::size_t size() const { return refs.size(); }
    bool empty() const { return refs.empty(); }
    File operator[](std::size_t index) const;
    // The recorded sizes added up.
    uint64_t recordedBytes() const { return bytes; }

private:
    // A lent entry's address, or (index << 1 | 1) for an owned one: entries are aligned, so the low bit of
    // an address is 0. Indices rather than addresses keep a copied list pointing at its own strings.
    std::vector<uintptr_t> refs;
    std::vector<std::pair<std::string, uint64_t>> owned;
    std::vector<std::shared_ptr<const void>> holds;
    uint64_t bytes = 0;
};
