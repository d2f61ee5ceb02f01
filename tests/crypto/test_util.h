// Small helpers shared by the crypto tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

// to_hex returns the lower-case hex of |n| bytes in storage order.
inline std::string to_hex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        s += buf;
    }
    return s;
}

// from_hex decodes an even-length hex text into |out|.
inline void from_hex(const std::string& hex, uint8_t* out) {
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out[i / 2] = std::stoi(hex.substr(i, 2), nullptr, 16);
}

// fill_random fills |n| bytes from |rng|.
inline void fill_random(std::mt19937_64& rng, uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(rng());
}
