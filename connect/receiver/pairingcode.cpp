#include "connect/receiver/pairingcode.h"

#include <cstdint>
#include <cstdio>
#include <random>

#include <sys/random.h>

namespace {

uint32_t randomWord()
{
    uint32_t word = 0;
    if (::getrandom(&word, sizeof(word), 0) == static_cast<ssize_t>(sizeof(word))) {
        return word;
    }
    std::random_device device;
    return device();
}

} // namespace

std::string getPairingCode()
{
    // Words at or above the largest multiple of a million would favour the low codes.
    constexpr uint32_t codes = 1000000;
    constexpr uint32_t limit = UINT32_MAX - UINT32_MAX % codes;
    uint32_t word = randomWord();
    while (word >= limit) {
        word = randomWord();
    }
    char text[8];
    std::snprintf(text, sizeof(text), "%06u", static_cast<unsigned>(word % codes));
    return text;
}
