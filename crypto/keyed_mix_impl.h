// The keyed mixing iterations, written once over a handful of block primitives. Each form
// includes this header and instantiates keyed_mix_rounds with its own primitive struct.
//
// A primitive struct Ops supplies:
//   block                       the 128-bit value type
//   load(p) / store(p, v)       aligned 16-byte entry access
//   xor_(a, b), cl(x), mh(a, b), aes(x, k), lo32(x, y), hi32(x, y)
//   low64(x)                    bytes 0..7 as an unsigned value
//   xor_low32(acc, v)           acc with bits 0..31 XORed with v
//   start(key, mask), entry_r(key, sel, mask), entry_x(key, sel, mask)
//                               the entries the accumulator starts from and each
//                               iteration picks
#pragma once

#include <cstdint>
#include <emmintrin.h>

#include "crypto/aligned.h"

#if defined(__GNUC__)
#define KEYED_MIX_INLINE inline __attribute__((always_inline))
#else
#define KEYED_MIX_INLINE inline
#endif

enum class mix_variant { a, b, c };

// rem_low32 returns the low 32 bits of the truncating remainder d rem dv. Callers never pass
// dv = 0 or -1 (the case bits of the selector exclude both), so d = INT64_MIN is safe.
KEYED_MIX_INLINE uint32_t rem_low32(int64_t d, int64_t dv) {
    return static_cast<uint32_t>(static_cast<uint64_t>(d % dv));
}

// dividend_of reads a 64-bit half as a signed value without relying on narrowing rules.
KEYED_MIX_INLINE int64_t dividend_of(uint64_t v) {
    int64_t d;
    __builtin_memcpy(&d, &v, sizeof d);
    return d;
}

// divisor_of is the low 32 bits of the selector, signed, widened with its sign.
KEYED_MIX_INLINE int64_t divisor_of(uint64_t sel) {
    const uint32_t low = static_cast<uint32_t>(sel);
    int32_t s;
    __builtin_memcpy(&s, &low, sizeof s);
    return s;
}

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

// aes_loop_takes_clmul is the round test of the AES/carry-less loop. Variant A shifts a
// signed 32-bit mask, losing bits past 31 and widening with its sign: n = 3 tests bits 31..63
// and n >= 4 never passes. Done in unsigned arithmetic to keep it defined.
template <mix_variant V> KEYED_MIX_INLINE bool aes_loop_takes_clmul(uint64_t sel, unsigned n) {
    if (V == mix_variant::a) {
        const uint32_t mask32 = 0x10000000u << n;
        const uint64_t widened =
            (mask32 & 0x80000000u) ? (0xFFFFFFFF00000000ull | mask32) : uint64_t{mask32};
        return (widened & sel) != 0;
    }
    return ((sel >> (28 + n)) & 1) != 0;
}

template <class Ops, mix_variant V>
KEYED_MIX_INLINE typename Ops::block keyed_mix_rounds(__m128i* key, const __m128i* block,
                                                      uint64_t keyIndexMask, __m128i** touch) {
    using B = typename Ops::block;
    assert(is_aligned(key, 32) && is_aligned(block, 16));

    // Variant A reads the caller's block in place; B and C fold the halves into a copy.
    alignas(16) __m128i copy[4];
    const __m128i* w = block;
    if (V != mix_variant::a) {
        const B s0 = Ops::load(block), s1 = Ops::load(block + 1);
        const B s2 = Ops::load(block + 2), s3 = Ops::load(block + 3);
        Ops::store(copy, Ops::xor_(s0, s2));
        Ops::store(copy + 1, Ops::xor_(s1, s3));
        Ops::store(copy + 2, s2);
        Ops::store(copy + 3, s3);
        w = copy;
    }

    B acc = Ops::load(Ops::start(key, keyIndexMask));
    for (int i = 0; i < 32; ++i) {
        const uint64_t sel = Ops::low64(acc);
        __m128i* const kr = Ops::entry_r(key, sel, keyIndexMask);
        __m128i* const kx = Ops::entry_x(key, sel, keyIndexMask);
        touch[2 * i] = kr;
        touch[2 * i + 1] = kx;
        const B p = Ops::load(w + (sel & 3));
        const B q = Ops::load(w + ((sel & 3) ^ 1));
        const B t1 = Ops::load(kx);
        const B t2 = Ops::load(kr);

        switch (mix_case_of(sel)) {
        case 0x00:
            acc = Ops::xor_(acc, Ops::cl(Ops::xor_(q, t1)));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            acc = Ops::xor_(acc, Ops::cl(Ops::xor_(p, t2)));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            break;
        case 0x04:
            acc = Ops::xor_(acc, Ops::xor_(Ops::cl(p), Ops::cl(Ops::xor_(p, t2))));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            acc = Ops::xor_(acc, Ops::xor_(q, t1));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            break;
        case 0x08:
            acc = Ops::xor_(acc, Ops::xor_(p, t1));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            acc = Ops::xor_(acc, Ops::xor_(Ops::cl(q), Ops::cl(Ops::xor_(q, t2))));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            break;
        case 0x0c: {
            acc = Ops::xor_(acc, Ops::xor_(q, t2));
            const int64_t d = dividend_of(Ops::low64(acc));
            acc = Ops::xor_low32(acc, rem_low32(d, divisor_of(sel)));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            if (d & 1) {
                acc = Ops::xor_(acc, Ops::xor_(Ops::cl(p), Ops::cl(Ops::xor_(p, t1))));
                Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            } else {
                Ops::store(kr, t1);
                if (V == mix_variant::c) acc = Ops::xor_(acc, p);
            }
            break;
        }
        case 0x10: {
            B x = q, y = p;
            for (int j = 0; j < 3; ++j) {
                x = Ops::aes(Ops::aes(x, Ops::load(kr + 4 * j)), Ops::load(kr + 4 * j + 2));
                y = Ops::aes(Ops::aes(y, Ops::load(kr + 4 * j + 1)), Ops::load(kr + 4 * j + 3));
                const B nx = Ops::lo32(x, y);
                y = Ops::hi32(x, y);
                x = nx;
            }
            acc = Ops::xor_(acc, Ops::xor_(x, y));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            Ops::store(kr, t1);
            break;
        }
        case 0x14: {
            const __m128i* c = kr;
            int o = 0;
            for (int n = static_cast<int>(mix_last_round_of(sel)); n >= 0; --n) {
                const B k = Ops::load(c);
                ++c;
                const bool odd = (n & 1) != 0;
                if (aes_loop_takes_clmul<V>(sel, static_cast<unsigned>(n))) {
                    acc = Ops::xor_(acc, Ops::cl(Ops::xor_(k, odd ? p : q)));
                } else {
                    // The round keys start right after the entry just read.
                    B x = Ops::aes(k, Ops::load(c + o));
                    B y = Ops::aes(odd ? q : p, Ops::load(c + o + 1));
                    x = Ops::aes(x, Ops::load(c + o + 2));
                    y = Ops::aes(y, Ops::load(c + o + 3));
                    acc = Ops::xor_(acc, Ops::xor_(Ops::lo32(x, y), Ops::hi32(x, y)));
                    o += 4;
                }
            }
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            Ops::store(kr, t1);
            break;
        }
        case 0x18: {
            if (V == mix_variant::a) {
                acc = Ops::xor_(acc, Ops::cl(Ops::xor_(q, t2)));
                Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
                Ops::store(kr, t1);
                break;
            }
            const int64_t dv = divisor_of(sel);
            const __m128i* c = kr;
            B k = t2;
            for (int n = static_cast<int>(mix_last_round_of(sel)); n >= 0; --n) {
                k = Ops::load(c);
                ++c;
                const bool odd = (n & 1) != 0;
                if ((sel >> (28 + n)) & 1) {
                    const B kd = Ops::xor_(k, odd ? p : q);
                    acc = Ops::xor_low32(acc, rem_low32(dividend_of(Ops::low64(kd)), dv));
                    if (V == mix_variant::c) k = kd;
                } else {
                    const B km = Ops::cl(Ops::xor_(k, odd ? q : p));
                    acc = Ops::xor_(acc, Ops::mh(acc, km));
                    if (V == mix_variant::c) k = km;
                }
            }
            // The loop only reads, so t1 still holds K[X].
            if (V == mix_variant::c) {
                Ops::store(kx, k);
                Ops::store(kr, Ops::xor_(t1, acc));
            } else {
                Ops::store(kx, Ops::xor_(t1, acc));
                Ops::store(kr, k);
            }
            break;
        }
        case 0x1c:
            acc = Ops::xor_(acc, Ops::cl(Ops::xor_(p, t1)));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            acc = Ops::xor_(acc, V == mix_variant::c ? Ops::xor_(q, t2) : t2);
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            break;
        }
    }
    return acc;
}
