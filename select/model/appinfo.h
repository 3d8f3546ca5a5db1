#pragma once

#include <cstdint>

// One inventoried package; the key of its record is the package name.
struct AppInfo
{
    int32_t reserved = 0;
    // Selected for transfer.
    bool checked = false;
};
