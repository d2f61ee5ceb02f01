// The AES round, the word interleaves and the Haraka-512 rounds with the aarch64 crypto
// extensions, as force-inlined pieces, shared by the Haraka forms and (through
// crypto/keyed_mix/ops_arm64.h) the fast mixing and the nonce paths. Include only from files
// compiled with -march=armv8-a+crypto; they run only after the probe has found AES and PMULL.
#pragma once

#include <arm_neon.h>
#include <cstdint>

#include "crypto/base/bytes.h"

// aesenc returns one AES encryption round of |x| with round key |k|, as AESENC.
ZANTU_INLINE uint8x16_t aesenc(uint8x16_t x, uint8x16_t k) {
    // AESE adds its key before SubBytes, AESENC after MixColumns: AESE gets zero, k comes last.
    return veorq_u8(vaesmcq_u8(vaeseq_u8(x, vdupq_n_u8(0))), k);
}

// aesenc2 returns aesenc(aesenc(x, k1), k2).
ZANTU_INLINE uint8x16_t aesenc2(uint8x16_t x, uint8x16_t k1, uint8x16_t k2) {
    // The first round's key is the second AESE's, which saves an XOR.
    const uint8x16_t r1 = vaesmcq_u8(vaeseq_u8(x, vdupq_n_u8(0)));
    return veorq_u8(vaesmcq_u8(vaeseq_u8(r1, k1)), k2);
}

// lo32 returns the 32-bit words (x0, y0, x1, y1), as PUNPCKLDQ.
ZANTU_INLINE uint8x16_t lo32(uint8x16_t x, uint8x16_t y) {
    return vreinterpretq_u8_u32(vzip1q_u32(vreinterpretq_u32_u8(x), vreinterpretq_u32_u8(y)));
}

// hi32 returns the 32-bit words (x2, y2, x3, y3), as PUNPCKHDQ.
ZANTU_INLINE uint8x16_t hi32(uint8x16_t x, uint8x16_t y) {
    return vreinterpretq_u8_u32(vzip2q_u32(vreinterpretq_u32_u8(x), vreinterpretq_u32_u8(y)));
}

// lo64 returns the 64-bit halves (x0, y0), as PUNPCKLQDQ.
ZANTU_INLINE uint8x16_t lo64(uint8x16_t x, uint8x16_t y) {
    return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u8(x), vreinterpretq_u64_u8(y)));
}

// hi64 returns the 64-bit halves (x1, y1), as PUNPCKHQDQ.
ZANTU_INLINE uint8x16_t hi64(uint8x16_t x, uint8x16_t y) {
    return vreinterpretq_u8_u64(vzip2q_u64(vreinterpretq_u64_u8(x), vreinterpretq_u64_u8(y)));
}

// rc_at loads constant |i| of the table |rc|.
ZANTU_INLINE uint8x16_t rc_at(const uint8_t* rc, int i) {
    return vld1q_u8(rc + 16 * i);
}

// aes512 runs the two AES rounds of Haraka-512 round |r|, the four lanes side by side.
ZANTU_INLINE void aes512(uint8x16_t& s0, uint8x16_t& s1, uint8x16_t& s2, uint8x16_t& s3,
                         const uint8_t* rc, int r) {
    s0 = aesenc2(s0, rc_at(rc, 8 * r + 0), rc_at(rc, 8 * r + 4));
    s1 = aesenc2(s1, rc_at(rc, 8 * r + 1), rc_at(rc, 8 * r + 5));
    s2 = aesenc2(s2, rc_at(rc, 8 * r + 2), rc_at(rc, 8 * r + 6));
    s3 = aesenc2(s3, rc_at(rc, 8 * r + 3), rc_at(rc, 8 * r + 7));
}

// mix512 is the word mix that ends every Haraka-512 round.
ZANTU_INLINE void mix512(uint8x16_t& s0, uint8x16_t& s1, uint8x16_t& s2, uint8x16_t& s3) {
    const uint8x16_t t = lo32(s0, s1);
    s0 = hi32(s0, s1);
    s1 = lo32(s2, s3);
    s2 = hi32(s2, s3);
    s3 = lo32(s0, s2);
    s0 = hi32(s0, s2);
    s2 = hi32(s1, t);
    s1 = lo32(s1, t);
}

// rounds512 runs rounds 0..3 in full and the AES steps of round 4; the caller does the last mix.
ZANTU_INLINE void rounds512(uint8x16_t& s0, uint8x16_t& s1, uint8x16_t& s2, uint8x16_t& s3,
                            const uint8_t* rc) {
    for (int r = 0; r < 4; ++r) {
        aes512(s0, s1, s2, s3, rc, r);
        mix512(s0, s1, s2, s3);
    }
    aes512(s0, s1, s2, s3, rc, 4);
}

// haraka512_rc_low returns, in its low 8 bytes, out[24..31] of Haraka-512/256 of the block
// s0..s3 under |rc|: only the last mix's s3 = lo(hi(s0, s1), hi(s2, s3)) reaches them.
ZANTU_INLINE uint8x16_t haraka512_rc_low(uint8x16_t s0, uint8x16_t s1, uint8x16_t s2, uint8x16_t s3,
                                         const uint8_t* rc) {
    const uint8x16_t in3 = s3;
    rounds512(s0, s1, s2, s3, rc);
    return veorq_u8(lo32(hi32(s0, s1), hi32(s2, s3)), in3);
}
