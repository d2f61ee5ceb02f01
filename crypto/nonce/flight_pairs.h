// The in-flight path's primitives for a form with 128-bit registers only: a pair of entries is
// two registers, built over the form's block primitives Ops (crypto/keyed_mix/ops_x86.h or
// ops_arm64.h), which add equal_bytes(block, byte), the 16-bit mask of the bytes equal to one
// value, and mix512, the Haraka-512 word mix. Bit scans and counts use no instruction beyond
// the baseline: on x86-64 a processor with AES-NI and AVX need not have BMI or POPCNT. Each
// member is the primitive of its name in the list at the top of crypto/nonce/flight_impl.h.
#pragma once

#include <cstdint>

#include "crypto/base/bytes.h"

// kPopcount8.v[u]: the set bits of u.
struct Popcount8 {
    uint8_t v[256];
    constexpr Popcount8() : v() {
        for (int u = 0; u < 256; ++u)
            for (int b = 0; b < 8; ++b)
                v[u] = static_cast<uint8_t>(v[u] + ((u >> b) & 1));
    }
};
constexpr Popcount8 kPopcount8;

// kFlightLaneMasks.v[u][k]: all bits b where bit k of u is b, for u below 16: a looped case's
// kept products, four rounds per row, so that keeping one is a single AND with memory.
struct FlightLaneMasks {
    alignas(16) uint64_t v[16][4][2];
    constexpr FlightLaneMasks() : v() {
        for (int u = 0; u < 16; ++u)
            for (int k = 0; k < 4; ++k)
                v[u][k][0] = v[u][k][1] = ((u >> k) & 1) ? ~uint64_t{0} : 0;
    }
};
constexpr FlightLaneMasks kFlightLaneMasks;

template <class Ops> struct FlightPairs : Ops {
    using V = typename Ops::block;
    struct Pair {
        V lo, hi;
    };
    struct Cases {
        V b[4];
    };
    // The mask rows of rounds 0..3 and 4..7.
    struct Lanes {
        const uint64_t (*lo)[2];
        const uint64_t (*hi)[2];
    };

    static ZANTU_INLINE V if_odd(int64_t d, V even, V odd) {
        return Ops::pick(even, odd, Ops::bit_mask(static_cast<unsigned>(d & 1)));
    }
    static ZANTU_INLINE Pair load_pair(const void* p) {
        return {Ops::load(p), Ops::load(static_cast<const char*>(p) + 16)};
    }
    static ZANTU_INLINE void store_pair(void* p, Pair v) {
        Ops::store(p, v.lo);
        Ops::store(static_cast<char*>(p) + 16, v.hi);
    }
    static ZANTU_INLINE Pair join(V lo, V hi) { return {lo, hi}; }
    static ZANTU_INLINE V low(Pair v) { return v.lo; }
    static ZANTU_INLINE V high(Pair v) { return v.hi; }
    static ZANTU_INLINE Pair xor_pair(Pair a, Pair b) {
        return {Ops::xor_(a.lo, b.lo), Ops::xor_(a.hi, b.hi)};
    }
    static ZANTU_INLINE Pair zero_pair() { return {Ops::zero(), Ops::zero()}; }
    static ZANTU_INLINE Pair aes_pair(Pair x, Pair k) {
        return {Ops::aes(x.lo, k.lo), Ops::aes(x.hi, k.hi)};
    }
    static ZANTU_INLINE Pair cl_pair(Pair x) { return {Ops::cl(x.lo), Ops::cl(x.hi)}; }
    static ZANTU_INLINE Pair interleave(Pair v) {
        return {Ops::lo32(v.lo, v.hi), Ops::hi32(v.lo, v.hi)};
    }
    static ZANTU_INLINE void mix(Pair& a, Pair& b) { Ops::mix512(a.lo, a.hi, b.lo, b.hi); }
    static ZANTU_INLINE Lanes lanes(unsigned bits) {
        return {kFlightLaneMasks.v[bits & 15], kFlightLaneMasks.v[(bits >> 4) & 15]};
    }
    static ZANTU_INLINE Pair kept(Lanes lanes, int h, Pair v) {
        const uint64_t(*row)[2] = h < 2 ? lanes.lo : lanes.hi;
        return {Ops::and_(v.lo, Ops::load(row[2 * h & 3])),
                Ops::and_(v.hi, Ops::load(row[(2 * h + 1) & 3]))};
    }
    static ZANTU_INLINE Pair xor_kept(Pair sum, Lanes lanes, int h, Pair v) {
        return xor_pair(sum, kept(lanes, h, v));
    }
    static ZANTU_INLINE Cases load_cases(const uint8_t* bytes) {
        return {{Ops::load(bytes), Ops::load(bytes + 16), Ops::load(bytes + 32),
                 Ops::load(bytes + 48)}};
    }
    static ZANTU_INLINE uint64_t case_mask(const Cases& cases, uint8_t want) {
        uint64_t m = 0;
        for (int k = 0; k < 4; ++k)
            m |= uint64_t{Ops::equal_bytes(cases.b[k], want)} << 16 * k;
        return m;
    }
    // A nonzero operand lets the compiler use the baseline bit scan.
    static ZANTU_INLINE unsigned lowest(uint64_t m) {
        return static_cast<unsigned>(__builtin_ctzll(m));
    }
    static ZANTU_INLINE uint64_t clear_lowest(uint64_t m) { return m & (m - 1); }
    static ZANTU_INLINE unsigned lowest8(unsigned u) {
        return static_cast<unsigned>(__builtin_ctz(u | 0x100));
    }
    static ZANTU_INLINE unsigned popcount8(unsigned u) { return kPopcount8.v[u & 0xff]; }
};
