// The tests' one pseudo-random byte string: a seeded xorshift, the same
// bytes on every machine, which deflate cannot shrink. Header-only, for the
// native and the Windows tests alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string noise(size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x >> 24);
    }
    return out;
}
