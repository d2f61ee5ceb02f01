// The Haraka-512 rounds with AES-NI as force-inlined pieces, shared by the Haraka forms and
// the two-lane path. Include only from files compiled with -maes.
#pragma once

#include <cstdint>
#include <immintrin.h>

#include "crypto/base/bytes.h"

// rc_at loads constant |i| of the 16-byte aligned table |rc|.
ZANTU_INLINE __m128i rc_at(const uint8_t* rc, int i) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(rc) + i);
}

// aes512 runs the two AES rounds of Haraka-512 round |r|, the four lanes side by side.
ZANTU_INLINE void aes512(__m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3, const uint8_t* rc,
                         int r) {
    s0 = _mm_aesenc_si128(s0, rc_at(rc, 8 * r + 0));
    s1 = _mm_aesenc_si128(s1, rc_at(rc, 8 * r + 1));
    s2 = _mm_aesenc_si128(s2, rc_at(rc, 8 * r + 2));
    s3 = _mm_aesenc_si128(s3, rc_at(rc, 8 * r + 3));
    s0 = _mm_aesenc_si128(s0, rc_at(rc, 8 * r + 4));
    s1 = _mm_aesenc_si128(s1, rc_at(rc, 8 * r + 5));
    s2 = _mm_aesenc_si128(s2, rc_at(rc, 8 * r + 6));
    s3 = _mm_aesenc_si128(s3, rc_at(rc, 8 * r + 7));
}

// mix512 is the word mix that ends every Haraka-512 round.
ZANTU_INLINE void mix512(__m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3) {
    const __m128i t = _mm_unpacklo_epi32(s0, s1);
    s0 = _mm_unpackhi_epi32(s0, s1);
    s1 = _mm_unpacklo_epi32(s2, s3);
    s2 = _mm_unpackhi_epi32(s2, s3);
    s3 = _mm_unpacklo_epi32(s0, s2);
    s0 = _mm_unpackhi_epi32(s0, s2);
    s2 = _mm_unpackhi_epi32(s1, t);
    s1 = _mm_unpacklo_epi32(s1, t);
}

// rounds512 runs rounds 0..3 in full and the AES steps of round 4; the caller does the last mix.
ZANTU_INLINE void rounds512(__m128i& s0, __m128i& s1, __m128i& s2, __m128i& s3, const uint8_t* rc) {
    aes512(s0, s1, s2, s3, rc, 0);
    mix512(s0, s1, s2, s3);
    aes512(s0, s1, s2, s3, rc, 1);
    mix512(s0, s1, s2, s3);
    aes512(s0, s1, s2, s3, rc, 2);
    mix512(s0, s1, s2, s3);
    aes512(s0, s1, s2, s3, rc, 3);
    mix512(s0, s1, s2, s3);
    aes512(s0, s1, s2, s3, rc, 4);
}

// haraka512_rc_low returns, in its low 8 bytes, out[24..31] of Haraka-512/256 of the block
// s0..s3 under |rc|: only the last mix's s3 = lo(hi(s0, s1), hi(s2, s3)) reaches them.
ZANTU_INLINE __m128i haraka512_rc_low(__m128i s0, __m128i s1, __m128i s2, __m128i s3,
                                      const uint8_t* rc) {
    const __m128i in3 = s3;
    rounds512(s0, s1, s2, s3, rc);
    const __m128i last = _mm_unpacklo_epi32(_mm_unpackhi_epi32(s0, s1), _mm_unpackhi_epi32(s2, s3));
    return _mm_xor_si128(last, in3);
}
