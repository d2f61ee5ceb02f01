// The AES round and the lane moves of the fast forms on aarch64 (the crypto extensions and
// NEON), force-inlined, each giving the bytes of the x86-64 instruction it stands in for: what
// Haraka is built from, and the base of the block primitives above it
// (crypto/keyed_mix/ops_arm64.h). Include only from files compiled with -march=armv8-a+crypto.
#pragma once

#include <arm_neon.h>
#include <cstdint>

#include "crypto/base/bytes.h"

struct AesOps {
    using block = uint8x16_t;

    // LD1/ST1 through byte pointers: alias-safe whatever the caller's buffer was declared as,
    // and with no alignment needed (the contracts keep x86-64's all the same).
    static ZANTU_INLINE block load(const void* p) {
        return vld1q_u8(static_cast<const uint8_t*>(p));
    }
    static ZANTU_INLINE void store(void* p, block v) { vst1q_u8(static_cast<uint8_t*>(p), v); }
    static ZANTU_INLINE void store_unaligned(void* p, block v) { store(p, v); }
    static ZANTU_INLINE void store_low8(void* p, block v) {
        vst1_u8(static_cast<uint8_t*>(p), vget_low_u8(v));
    }
    static ZANTU_INLINE block xor_(block a, block b) { return veorq_u8(a, b); }
    // aes is one AES encryption round of |x| with round key |k|, as AESENC.
    static ZANTU_INLINE block aes(block x, block k) {
        // AESE adds its key before SubBytes, AESENC after MixColumns: AESE gets zero, k comes
        // last.
        return veorq_u8(vaesmcq_u8(vaeseq_u8(x, vdupq_n_u8(0))), k);
    }
    // aes2 is aes(aes(x, k1), k2): the first round's key is the second AESE's, which saves an
    // XOR.
    static ZANTU_INLINE block aes2(block x, block k1, block k2) {
        const block r1 = vaesmcq_u8(vaeseq_u8(x, vdupq_n_u8(0)));
        return veorq_u8(vaesmcq_u8(vaeseq_u8(r1, k1)), k2);
    }
    static ZANTU_INLINE block lo32(block x, block y) {
        return vreinterpretq_u8_u32(vzip1q_u32(vreinterpretq_u32_u8(x), vreinterpretq_u32_u8(y)));
    }
    static ZANTU_INLINE block hi32(block x, block y) {
        return vreinterpretq_u8_u32(vzip2q_u32(vreinterpretq_u32_u8(x), vreinterpretq_u32_u8(y)));
    }
    static ZANTU_INLINE block lo64(block x, block y) {
        return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u8(x), vreinterpretq_u64_u8(y)));
    }
    static ZANTU_INLINE block hi64(block x, block y) {
        return vreinterpretq_u8_u64(vzip2q_u64(vreinterpretq_u64_u8(x), vreinterpretq_u64_u8(y)));
    }
    static ZANTU_INLINE uint64_t low64(block x) {
        return vgetq_lane_u64(vreinterpretq_u64_u8(x), 0);
    }
};
