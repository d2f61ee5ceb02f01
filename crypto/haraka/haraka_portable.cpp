// Portable Haraka: AES rounds from four 1 KiB tables derived from the S-box (SubBytes and
// MixColumns in one lookup per byte), for processors without AES-NI.
#include <cstring>

#include "crypto/haraka/haraka.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "AES columns are read as little-endian words straight from the block");

namespace {

constexpr uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

constexpr uint8_t xtime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x >> 7) * 0x1b));
}

// T[r][x]: the MixColumns column of S(x) entering at row r, rows packed low byte first.
struct RoundTables {
    uint32_t t[4][256];
};

constexpr RoundTables make_round_tables() {
    RoundTables r{};
    for (int x = 0; x < 256; ++x) {
        const uint32_t s = kSbox[x], s2 = xtime(kSbox[x]), s3 = s2 ^ s;
        const uint32_t w = s2 | s << 8 | s << 16 | s3 << 24;
        r.t[0][x] = w;
        for (int k = 1; k < 4; ++k)
            r.t[k][x] = w << (8 * k) | w >> (32 - 8 * k);
    }
    return r;
}

constexpr RoundTables kRound = make_round_tables();

void xor_block(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        dst[i] = a[i] ^ b[i];
}

} // namespace

void aes_round_soft(uint8_t block[16], const uint8_t k[16]) {
    // Column j of the result takes row r from column j + r (ShiftRows). The columns are
    // joined in 64-bit halves, which also keeps the compiler from vectorising the lookups.
    uint64_t in[2], key[2];
    std::memcpy(in, block, 16);
    std::memcpy(key, k, 16);
    const uint32_t c0 = static_cast<uint32_t>(in[0]), c1 = static_cast<uint32_t>(in[0] >> 32);
    const uint32_t c2 = static_cast<uint32_t>(in[1]), c3 = static_cast<uint32_t>(in[1] >> 32);
    const auto& t = kRound.t;
    const uint64_t o0 =
        t[0][c0 & 0xff] ^ t[1][(c1 >> 8) & 0xff] ^ t[2][(c2 >> 16) & 0xff] ^ t[3][c3 >> 24];
    const uint64_t o1 =
        t[0][c1 & 0xff] ^ t[1][(c2 >> 8) & 0xff] ^ t[2][(c3 >> 16) & 0xff] ^ t[3][c0 >> 24];
    const uint64_t o2 =
        t[0][c2 & 0xff] ^ t[1][(c3 >> 8) & 0xff] ^ t[2][(c0 >> 16) & 0xff] ^ t[3][c1 >> 24];
    const uint64_t o3 =
        t[0][c3 & 0xff] ^ t[1][(c0 >> 8) & 0xff] ^ t[2][(c1 >> 16) & 0xff] ^ t[3][c2 >> 24];
    const uint64_t out[2] = {(o0 | o1 << 32) ^ key[0], (o2 | o3 << 32) ^ key[1]};
    std::memcpy(block, out, 16);
}

void interleave_lo32(uint8_t dst[16], const uint8_t a[16], const uint8_t b[16]) {
    uint8_t t[16];
    std::memcpy(t, a, 4);
    std::memcpy(t + 4, b, 4);
    std::memcpy(t + 8, a + 4, 4);
    std::memcpy(t + 12, b + 4, 4);
    std::memcpy(dst, t, 16);
}

void interleave_hi32(uint8_t dst[16], const uint8_t a[16], const uint8_t b[16]) {
    uint8_t t[16];
    std::memcpy(t, a + 8, 4);
    std::memcpy(t + 4, b + 8, 4);
    std::memcpy(t + 8, a + 12, 4);
    std::memcpy(t + 12, b + 12, 4);
    std::memcpy(dst, t, 16);
}

void haraka512_permute(uint8_t out[64], const uint8_t in[64], const uint8_t* table) {
    uint8_t s[4][16], t[16];
    std::memcpy(s, in, 64);
    for (int r = 0; r < 5; ++r) {
        for (int i = 0; i < 4; ++i)
            aes_round_soft(s[i], table + 16 * (8 * r + i));
        for (int i = 0; i < 4; ++i)
            aes_round_soft(s[i], table + 16 * (8 * r + 4 + i));
        interleave_lo32(t, s[0], s[1]);
        interleave_hi32(s[0], s[0], s[1]);
        interleave_lo32(s[1], s[2], s[3]);
        interleave_hi32(s[2], s[2], s[3]);
        interleave_lo32(s[3], s[0], s[2]);
        interleave_hi32(s[0], s[0], s[2]);
        interleave_hi32(s[2], s[1], t);
        interleave_lo32(s[1], s[1], t);
    }
    std::memcpy(out, s, 64);
}

void haraka256_hash_portable(uint8_t* out, const uint8_t* in) {
    uint8_t s0[16], s1[16], t[16];
    std::memcpy(s0, in, 16);
    std::memcpy(s1, in + 16, 16);
    for (int r = 0; r < 5; ++r) {
        const uint8_t* rc = HARAKA_RC + 64 * r;
        aes_round_soft(s0, rc);
        aes_round_soft(s1, rc + 16);
        aes_round_soft(s0, rc + 32);
        aes_round_soft(s1, rc + 48);
        interleave_lo32(t, s0, s1);
        interleave_hi32(s1, s0, s1);
        std::memcpy(s0, t, 16);
    }
    xor_block(out, s0, in, 16);
    xor_block(out + 16, s1, in + 16, 16);
}

void haraka512_hash_rc_portable(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    uint8_t f[64];
    haraka512_permute(f, in, rc);
    xor_block(f, f, in, 64);
    std::memcpy(out, f + 8, 8);
    std::memcpy(out + 8, f + 24, 8);
    std::memcpy(out + 16, f + 32, 8);
    std::memcpy(out + 24, f + 48, 8);
}

void haraka512_hash_portable(uint8_t* out, const uint8_t* in) {
    haraka512_hash_rc_portable(out, in, HARAKA_RC);
}
