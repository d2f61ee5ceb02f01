// Haraka with the aarch64 crypto extensions (AESE/AESMC): every lane in a register, all rounds
// unrolled, no calls. Compiled with -march=armv8-a+crypto; reached only after the probe found
// AES and PMULL.
#include "crypto/base/bytes.h"
#include "crypto/haraka/haraka.h"
#include "crypto/haraka/haraka_rounds_arm64.h"

// The loads need no alignment here; the asserts keep the contract of the other architecture's
// forms, so that a caller's mistake shows on this one too.

void haraka256_hash_fast(uint8_t* out, const uint8_t* in) {
    assert(is_aligned(in, 16));
    const uint8x16_t in0 = vld1q_u8(in), in1 = vld1q_u8(in + 16);
    uint8x16_t s0 = in0, s1 = in1;
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) {
        s0 = aesenc2(s0, rc_at(HARAKA_RC, 4 * r), rc_at(HARAKA_RC, 4 * r + 2));
        s1 = aesenc2(s1, rc_at(HARAKA_RC, 4 * r + 1), rc_at(HARAKA_RC, 4 * r + 3));
        const uint8x16_t t = lo32(s0, s1);
        s1 = hi32(s0, s1);
        s0 = t;
    }
    vst1q_u8(out, veorq_u8(s0, in0));
    vst1q_u8(out + 16, veorq_u8(s1, in1));
}

void haraka512_hash_fast(uint8_t* out, const uint8_t* in) {
    assert(is_aligned(in, 16));
    const uint8x16_t in0 = vld1q_u8(in), in1 = vld1q_u8(in + 16);
    const uint8x16_t in2 = vld1q_u8(in + 32), in3 = vld1q_u8(in + 48);
    uint8x16_t s0 = in0, s1 = in1, s2 = in2, s3 = in3;
    rounds512(s0, s1, s2, s3, HARAKA_RC);
    mix512(s0, s1, s2, s3);
    s0 = veorq_u8(s0, in0);
    s1 = veorq_u8(s1, in1);
    s2 = veorq_u8(s2, in2);
    s3 = veorq_u8(s3, in3);
    // Truncation keeps the high halves of lanes 0 and 1 and the low halves of lanes 2 and 3.
    vst1q_u8(out, hi64(s0, s1));
    vst1q_u8(out + 16, lo64(s2, s3));
}

void haraka512_hash_rc_fast(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    assert(is_aligned(in, 16) && is_aligned(rc, 16));
    const uint8x16_t word =
        haraka512_rc_low(vld1q_u8(in), vld1q_u8(in + 16), vld1q_u8(in + 32), vld1q_u8(in + 48), rc);
    vst1_u8(out + 24, vget_low_u8(word));
}
