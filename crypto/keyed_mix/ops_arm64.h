// The aarch64 block primitives of the fast forms, force-inlined, each giving the bytes of the
// x86-64 instruction it stands in for (crypto/keyed_mix/ops_x86.h has the same interface):
// the one set of wrappers that the fast mixing and the nonce paths build on. Include only from
// files compiled with -march=armv8-a+crypto.
#pragma once

#include <arm_neon.h>

#include "crypto/base/bytes.h"
#include "crypto/base/layout.h"
#include "crypto/base/vec128.h"
#include "crypto/haraka/aes_ops_arm64.h"
#include "crypto/keyed_mix/fast_ops_base.h"
#include "crypto/keyed_mix/mix_cases.h"

// NeonOps are the block primitives of the aarch64 fast forms.
struct NeonOps : FastOpsBase<AesOps> {
    static ZANTU_INLINE vec128 to_vec128(block v) { return v; }
    static ZANTU_INLINE block zero() { return vdupq_n_u8(0); }
    static ZANTU_INLINE block and_(block a, block b) { return vandq_u8(a, b); }
    static ZANTU_INLINE block or_(block a, block b) { return vorrq_u8(a, b); }
    // cl returns CL(x) = lo(x) (x) hi(x), as PCLMULQDQ with selector 0x10 on (x, x).
    static ZANTU_INLINE block cl(block x) {
        const poly64x2_t p = vreinterpretq_p64_u8(x);
        return vreinterpretq_u8_p128(vmull_p64(vgetq_lane_p64(p, 0), vgetq_lane_p64(p, 1)));
    }
    // mh returns, per signed 16-bit lane, (a * b + 0x4000) >> 15 cut to 16 bits, as PMULHRSW.
    static ZANTU_INLINE block mh(block a, block b) {
        // Not vqrdmulhq_s16: it saturates -32768 * -32768 to 0x7fff where PMULHRSW wraps to
        // 0x8000. The 32-bit products cannot overflow, and the rounding narrow keeps the low
        // 16 bits.
        const int16x8_t x = vreinterpretq_s16_u8(a), y = vreinterpretq_s16_u8(b);
        const int32x4_t lo = vmull_s16(vget_low_s16(x), vget_low_s16(y));
        const int32x4_t hi = vmull_high_s16(x, y);
        return vreinterpretq_u8_s16(vrshrn_high_n_s32(vrshrn_n_s32(lo, 15), hi, 15));
    }
    static ZANTU_INLINE block xor_low32(block acc, uint32_t v) {
        return veorq_u8(acc, vreinterpretq_u8_u32(vsetq_lane_u32(v, vdupq_n_u32(0), 0)));
    }
    // pick returns |if_set| where |mask|'s bytes have their top bit set, else |if_clear|, as
    // PBLENDVB.
    static ZANTU_INLINE block pick(block if_clear, block if_set, block mask) {
        // BSL selects per bit, so spread each byte's top bit over the byte first.
        const uint8x16_t select = vreinterpretq_u8_s8(vshrq_n_s8(vreinterpretq_s8_u8(mask), 7));
        return vbslq_u8(select, if_set, if_clear);
    }
    // splat64 returns |v| in both halves.
    static ZANTU_INLINE block splat64(uint64_t v) { return vreinterpretq_u8_u64(vdupq_n_u64(v)); }
    // shuffle returns the bytes of |table| that |idx| names (bytes 0..15; 0 where bit 7 is set),
    // as PSHUFB.
    static ZANTU_INLINE block shuffle(block table, block idx) {
        // TBL zeroes any index past 15; PSHUFB ignores bits 4..6, so only bit 7 may survive.
        return vqtbl1q_u8(table, vandq_u8(idx, vdupq_n_u8(0x8F)));
    }
    // equal_bytes returns bit j set where byte j of |v| is |want|.
    static ZANTU_INLINE uint16_t equal_bytes(block v, uint8_t want) {
        // No byte mask instruction: keep each equal byte's own bit, then add up each half.
        alignas(16) static constexpr uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                                          1, 2, 4, 8, 16, 32, 64, 128};
        const block bits = vandq_u8(vceqq_u8(v, vdupq_n_u8(want)), vld1q_u8(kBits));
        return static_cast<uint16_t>(vaddv_u8(vget_low_u8(bits)) | vaddv_u8(vget_high_u8(bits))
                                                                       << 8);
    }
    // high_word returns |v| in bytes 12..15, zeros elsewhere.
    static ZANTU_INLINE block high_word(uint32_t v) {
        return vreinterpretq_u8_u32(vsetq_lane_u32(v, vdupq_n_u32(0), 3));
    }

    // reduce64 is clhash_reduce64_fast, inlined where it is used.
    static ZANTU_INLINE uint64_t reduce64(block acc) {
        // Length term: lo 64, hi 1024; their product is the constant 0x10000, in the low half.
        acc =
            veorq_u8(acc, vreinterpretq_u8_u64(vcombine_u64(vcreate_u64(0x10000), vcreate_u64(0))));
        // hi(acc) (x) 0x1b, as PCLMULQDQ with selector 0x01 on (acc, 0x1b).
        const poly64x2_t a = vreinterpretq_p64_u8(acc);
        const block y = vreinterpretq_u8_p128(vmull_p64(vgetq_lane_p64(a, 1), 0x1b));
        const block table = vreinterpretq_u8_u64(
            vcombine_u64(vcreate_u64(0x415a776c2d361b00ull), vcreate_u64(0x9982afb4f5eec3d8ull)));
        const block folded = shuffle(table, vextq_u8(y, vdupq_n_u8(0), 8));
        return low64(veorq_u8(veorq_u8(acc, y), folded));
    }
};
