// What one selector of the keyed mixing picks: its two key entries, its case, the round
// count and round tests of the looped cases, and the divisor of the remainder cases. Every
// writer of the mixing (the generic iterations and the multi-nonce paths) reads a selector
// through these and only these.
#pragma once

#include <cstdint>
#include <cstring>

#include "crypto/base/bytes.h"
#include "crypto/base/layout.h"

enum class mix_variant { a, b, c };

// kMixCaseBits: the selector bits that pick an iteration's case, one of eight.
constexpr uint64_t kMixCaseBits = 0x1c;

// mix_case_of returns the case that an iteration with selector |sel| runs.
constexpr uint64_t mix_case_of(uint64_t sel) {
    return sel & kMixCaseBits;
}

// mix_last_round_of returns the last round n, 0 to 7, of the looped cases for |sel|: they run
// rounds n down to 0, round n taking its arm from selector bit 28 + n.
constexpr uint64_t mix_last_round_of(uint64_t sel) {
    return sel >> 61;
}

// mix_round_tests returns selector bits 28..35, the looped cases' round tests: bit n is the
// test of round n.
constexpr unsigned mix_round_tests(uint64_t sel) {
    return static_cast<unsigned>(sel >> 28) & 0xff;
}

// mix_round_test returns the test of round n (0 to 7) of the looped cases, as 0 or 1, in
// variants B and C (variant A's AES loop tests otherwise: aes_loop_takes_clmul).
constexpr unsigned mix_round_test(uint64_t sel, int n) {
    return static_cast<unsigned>(sel >> (28 + n)) & 1;
}

// mix_r_offset and mix_x_offset return the byte offsets in the key of the entries R and X that
// |sel| picks (entry index times 16).
constexpr uint64_t mix_r_offset(uint64_t sel) {
    return (sel >> 1) & kEntryOffsetMask;
}
constexpr uint64_t mix_x_offset(uint64_t sel) {
    return (sel >> 28) & kEntryOffsetMask;
}
static_assert(mix_r_offset(uint64_t{511} << 5) == 16 * 511 &&
                  mix_x_offset(uint64_t{511} << 32) == 16 * 511,
              "R is selector bits 5..13, X bits 32..40");

// KEYED_MIX_CASES(X, ...) expands X(hex, kind, ...) for every case in order of its selector
// bits 0x<hex>; kind is |looped| for a case that runs mix_last_round_of(sel) + 1 rounds, else
// |plain|. The fast paths' per-case lists are generated from it.
#define KEYED_MIX_CASES(X, ...)                                                                    \
    X(00, plain, __VA_ARGS__)                                                                      \
    X(04, plain, __VA_ARGS__)                                                                      \
    X(08, plain, __VA_ARGS__)                                                                      \
    X(0c, plain, __VA_ARGS__)                                                                      \
    X(10, plain, __VA_ARGS__)                                                                      \
    X(14, looped, __VA_ARGS__)                                                                     \
    X(18, looped, __VA_ARGS__)                                                                     \
    X(1c, plain, __VA_ARGS__)

// The list holds each value of the case bits once, in order.
#define KEYED_MIX_CASE_BITS(hex, kind, unused) 0x##hex,
constexpr uint64_t kMixCaseList[] = {KEYED_MIX_CASES(KEYED_MIX_CASE_BITS, ~)};
#undef KEYED_MIX_CASE_BITS
constexpr bool mix_case_list_in_order() {
    if (sizeof kMixCaseList != sizeof kMixCaseList[0] * (kMixCaseBits / 4 + 1)) return false;
    for (uint64_t k = 0; k <= kMixCaseBits / 4; ++k)
        if (kMixCaseList[k] != 4 * k) return false;
    return true;
}
static_assert(mix_case_list_in_order(), "KEYED_MIX_CASES: each case once, in order");

// rem_low32 returns the low 32 bits of the truncating remainder d rem dv. Callers never pass
// dv = 0 or -1 (the case bits of the selector exclude both), so d = INT64_MIN is safe.
ZANTU_INLINE uint32_t rem_low32(int64_t d, int64_t dv) {
    return static_cast<uint32_t>(static_cast<uint64_t>(d % dv));
}

// dividend_of reads a 64-bit half as a signed value without relying on narrowing rules.
ZANTU_INLINE int64_t dividend_of(uint64_t v) {
    int64_t d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

// divisor_of is the low 32 bits of the selector, signed, widened with its sign.
ZANTU_INLINE int64_t divisor_of(uint64_t sel) {
    const uint32_t low = static_cast<uint32_t>(sel);
    int32_t s;
    std::memcpy(&s, &low, sizeof s);
    return s;
}

// aes_case_10 is case 0x10's mixing, written once for every Ops: x (from q) and y (from p)
// each take three pairs of AES rounds, their 32-bit halves interleaved after each pair; round
// key i sits at kr + 16 i, i < 12. Returns x ^ y.
template <class Ops>
ZANTU_INLINE typename Ops::block aes_case_10(const char* kr, typename Ops::block x,
                                             typename Ops::block y) {
#pragma GCC unroll 3
    for (int r = 0; r < 3; ++r) {
        x = Ops::aes(Ops::aes(x, Ops::load(kr + 64 * r)), Ops::load(kr + 64 * r + 32));
        y = Ops::aes(Ops::aes(y, Ops::load(kr + 64 * r + 16)), Ops::load(kr + 64 * r + 48));
        const typename Ops::block nx = Ops::lo32(x, y);
        y = Ops::hi32(x, y);
        x = nx;
    }
    return Ops::xor_(x, y);
}

// aes_loop_takes_clmul is the round test of the AES/carry-less loop. Variant A shifts a
// signed 32-bit mask, losing bits past 31 and widening with its sign: n = 3 tests bits 31..63
// and n >= 4 never passes. Done in unsigned arithmetic to keep it defined.
template <mix_variant V> ZANTU_INLINE bool aes_loop_takes_clmul(uint64_t sel, unsigned n) {
    if (V == mix_variant::a) {
        const uint32_t mask32 = 0x10000000u << n;
        const uint64_t widened =
            (mask32 & 0x80000000u) ? (0xFFFFFFFF00000000ull | mask32) : uint64_t{mask32};
        return (widened & sel) != 0;
    }
    return mix_round_test(sel, static_cast<int>(n)) != 0;
}
