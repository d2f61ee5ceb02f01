// What the fast forms' block primitives compute alike on every architecture, over its AES
// primitives A (crypto/haraka/aes_ops_*.h): the entries of a key of the fixed shape
// (keyIndexMask 8191, built in), and the Haraka pieces the nonce paths use. Include only after
// that architecture's AesOps, from files compiled with the fast forms' flags.
#pragma once

#include <cstdint>

#include "crypto/base/bytes.h"
#include "crypto/base/layout.h"
#include "crypto/base/vec128.h"
#include "crypto/haraka/haraka_rounds.h"
#include "crypto/keyed_mix/mix_cases.h"

// kBitMasks[b]: all bits b, for the branch-free selections of the nonce paths.
alignas(16) constexpr uint64_t kBitMasks[2][2] = {{0, 0}, {~uint64_t{0}, ~uint64_t{0}}};

template <class A> struct FastOpsBase : A {
    using block = typename A::block;

    static ZANTU_INLINE vec128* start(vec128* key, uint64_t) { return key + kStartEntry; }
    static ZANTU_INLINE vec128* entry_r(vec128* key, uint64_t sel, uint64_t) {
        return reinterpret_cast<vec128*>(reinterpret_cast<char*>(key) + mix_r_offset(sel));
    }
    static ZANTU_INLINE vec128* entry_x(vec128* key, uint64_t sel, uint64_t) {
        return reinterpret_cast<vec128*>(reinterpret_cast<char*>(key) + mix_x_offset(sel));
    }

    // bit_mask returns a block of all bits b, for b 0 or 1.
    static ZANTU_INLINE block bit_mask(unsigned b) { return A::load(kBitMasks[b]); }

    // mix512 is the Haraka-512 word mix that ends a round.
    static ZANTU_INLINE void mix512(block& s0, block& s1, block& s2, block& s3) {
        haraka::mix512<A>(s0, s1, s2, s3);
    }

    // haraka512_rc_word returns out[24..31] of Haraka-512/256 of the block s0..s3 under the
    // 16-byte aligned constant table |rc|, as a little-endian number.
    static ZANTU_INLINE uint64_t haraka512_rc_word(block s0, block s1, block s2, block s3,
                                                   const uint8_t* rc) {
        return A::low64(haraka::rc_low<A>(s0, s1, s2, s3, rc));
    }
};
