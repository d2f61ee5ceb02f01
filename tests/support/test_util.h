// Small helpers shared by the crypto tests.
#pragma once

#include <cstdint>
#include <random>

#include "tests/support/hex.h"

// fill_random fills |n| bytes from |rng|.
inline void fill_random(std::mt19937_64& rng, uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(rng());
}
