#pragma once

#include <cstdint>

// Smallest power of two not below n (n >= 1): the padded size of a texture's
// side on drivers that want powers of two.
inline int NextPowerOfTwo(uint32_t n)
{
    // Shifting instead of 2^ceil(log n / log 2) keeps exact powers of two exact.
    uint32_t p = 1;
    while (p < n && p < (1u << 31)) {
        p <<= 1;
    }
    return static_cast<int>(p);
}
