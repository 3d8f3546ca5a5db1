#include "connect/sender/planfiles.h"

PlanFiles::PlanFiles(std::initializer_list<std::pair<std::string, uint64_t>> files)
{
    for (const auto& file : files) {
        push_back(file);
    }
}

void PlanFiles::push_back(std::pair<std::string, uint64_t> file)
{
    refs.push_back(static_cast<uintptr_t>(owned.size()) << 1 | 1);
    bytes += file.second;
    owned.push_back(std::move(file));
}

void PlanFiles::emplace_back(std::string path, uint64_t size)
{
    push_back({std::move(path), size});
}

void PlanFiles::lend(const Map& map, std::shared_ptr<const void> hold)
{
    static_assert(alignof(Map::value_type) > 1, "the low bit of an entry's address tags owned paths");
    refs.reserve(refs.size() + map.size());
    for (const Map::value_type& file : map) {
        refs.push_back(reinterpret_cast<uintptr_t>(&file));
        bytes += file.second;
    }
    holds.push_back(std::move(hold));
}

PlanFiles::File PlanFiles::operator[](std::size_t index) const
{
    const uintptr_t slot = refs[index];
    if ((slot & 1) != 0) {
        const auto& file = owned[slot >> 1];
        return {file.first, file.second};
    }
    const auto* file = reinterpret_cast<const Map::value_type*>(slot);
    return {file->first, file->second};
}
