// Hex text and bytes (random ones too), for the crypto, solver and stress tests and the fuzz
// targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// to_hex returns the lower-case hex of the |n| bytes at |p|, in storage order.
inline std::string to_hex(const void* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const uint8_t*>(p);
    std::string out(2 * n, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
    return out;
}

// to_hex returns the lower-case hex of |data|.
inline std::string to_hex(const Bytes& data) {
    return to_hex(data.data(), data.size());
}

// from_hex decodes an even-length hex text of either case; throws std::invalid_argument on
// anything else.
inline Bytes from_hex(const std::string& text) {
    const auto nibble = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    if (text.size() % 2) throw std::invalid_argument("odd hex length");
    Bytes out(text.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1]));
    return out;
}

// from_hex decodes |text| as above into the text.size() / 2 bytes at |out|.
inline void from_hex(const std::string& text, uint8_t* out) {
    const Bytes bytes = from_hex(text);
    std::memcpy(out, bytes.data(), bytes.size());
}

// bytes_of copies the |n| bytes at |p|.
inline Bytes bytes_of(const uint8_t* p, size_t n) {
    return Bytes(p, p + n);
}

// fill_random fills the |n| bytes at |p| from |rng|.
inline void fill_random(std::mt19937_64& rng, uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(rng());
}
