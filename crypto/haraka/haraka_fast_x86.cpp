// Haraka with AES-NI: every lane in a register, all rounds unrolled, no calls.
// Compiled with -maes; reached only after the probe found AES-NI.
#include <immintrin.h>

#include "crypto/base/bytes.h"
#include "crypto/haraka/haraka.h"
#include "crypto/haraka/haraka_rounds_x86.h"

void haraka256_hash_fast(uint8_t* out, const uint8_t* in) {
    assert(is_aligned(in, 16));
    const __m128i* src = reinterpret_cast<const __m128i*>(in);
    const __m128i in0 = _mm_load_si128(src), in1 = _mm_load_si128(src + 1);
    __m128i s0 = in0, s1 = in1;
#define HARAKA256_ROUND(r)                                                                         \
    s0 = _mm_aesenc_si128(s0, rc_at(HARAKA_RC, 4 * (r)));                                          \
    s1 = _mm_aesenc_si128(s1, rc_at(HARAKA_RC, 4 * (r) + 1));                                      \
    s0 = _mm_aesenc_si128(s0, rc_at(HARAKA_RC, 4 * (r) + 2));                                      \
    s1 = _mm_aesenc_si128(s1, rc_at(HARAKA_RC, 4 * (r) + 3));                                      \
    {                                                                                              \
        const __m128i t = _mm_unpacklo_epi32(s0, s1);                                              \
        s1 = _mm_unpackhi_epi32(s0, s1);                                                           \
        s0 = t;                                                                                    \
    }
    HARAKA256_ROUND(0)
    HARAKA256_ROUND(1)
    HARAKA256_ROUND(2)
    HARAKA256_ROUND(3)
    HARAKA256_ROUND(4)
#undef HARAKA256_ROUND
    __m128i* dst = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(dst, _mm_xor_si128(s0, in0));
    _mm_storeu_si128(dst + 1, _mm_xor_si128(s1, in1));
}

void haraka512_hash_fast(uint8_t* out, const uint8_t* in) {
    assert(is_aligned(in, 16));
    const __m128i* src = reinterpret_cast<const __m128i*>(in);
    const __m128i in0 = _mm_load_si128(src), in1 = _mm_load_si128(src + 1);
    const __m128i in2 = _mm_load_si128(src + 2), in3 = _mm_load_si128(src + 3);
    __m128i s0 = in0, s1 = in1, s2 = in2, s3 = in3;
    rounds512(s0, s1, s2, s3, HARAKA_RC);
    mix512(s0, s1, s2, s3);
    s0 = _mm_xor_si128(s0, in0);
    s1 = _mm_xor_si128(s1, in1);
    s2 = _mm_xor_si128(s2, in2);
    s3 = _mm_xor_si128(s3, in3);
    // Truncation keeps the high halves of lanes 0 and 1 and the low halves of lanes 2 and 3.
    __m128i* dst = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(dst, _mm_unpackhi_epi64(s0, s1));
    _mm_storeu_si128(dst + 1, _mm_unpacklo_epi64(s2, s3));
}

void haraka512_hash_rc_fast(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    assert(is_aligned(in, 16) && is_aligned(rc, 16));
    const __m128i* src = reinterpret_cast<const __m128i*>(in);
    const __m128i word = haraka512_rc_low(_mm_load_si128(src), _mm_load_si128(src + 1),
                                          _mm_load_si128(src + 2), _mm_load_si128(src + 3), rc);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 24), word);
}
