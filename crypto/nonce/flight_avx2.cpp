// The in-flight nonce path's AVX2 form. Compiled with AVX2, VAES, VPCLMULQDQ, BMI1, BMI2,
// POPCNT, AES-NI and PCLMULQDQ; it runs only where flight_avx2_decision is 1.
#include "crypto/nonce/flight_ops_x86.h"

#include "crypto/nonce/flight_impl.h"

namespace {

// The Haraka-512 word interleave for (s0, s1) and (s2, s3): each new pair takes the same
// words of both old pairs, then blends them.
alignas(32) constexpr int32_t kMixFirst[8] = {3, 3, 7, 7, 0, 0, 4, 4};
alignas(32) constexpr int32_t kMixSecond[8] = {1, 1, 5, 5, 2, 2, 6, 6};
constexpr int kMixBlend = 0x5a;

struct Avx2 : FlightYmmOps {
    static ZANTU_INLINE uint64_t case_mask(Cases cases, uint8_t want) {
        const __m256i w = _mm256_set1_epi8(static_cast<char>(want));
        return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(cases.lo, w))) |
               uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(cases.hi, w)))}
                   << 32;
    }
    using Lanes = __m256i;
    static ZANTU_INLINE Lanes lanes(unsigned bits) {
        return _mm256_set1_epi32(static_cast<int>(bits));
    }
    static ZANTU_INLINE __m256i kept(Lanes lanes, int h, __m256i v) {
        const __m256i bit = _mm256_setr_epi32(1 << 2 * h, 1 << 2 * h, 1 << 2 * h, 1 << 2 * h,
                                              2 << 2 * h, 2 << 2 * h, 2 << 2 * h, 2 << 2 * h);
        return _mm256_and_si256(v, _mm256_cmpeq_epi32(_mm256_and_si256(lanes, bit), bit));
    }
    static ZANTU_INLINE __m256i xor_kept(__m256i sum, Lanes lanes, int h, __m256i v) {
        return _mm256_xor_si256(sum, kept(lanes, h, v));
    }
    static ZANTU_INLINE void mix(__m256i& a, __m256i& b) {
        const __m256i first = _mm256_load_si256(reinterpret_cast<const __m256i*>(kMixFirst));
        const __m256i second = _mm256_load_si256(reinterpret_cast<const __m256i*>(kMixSecond));
        const __m256i na = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, first),
                                              _mm256_permutevar8x32_epi32(b, first), kMixBlend);
        b = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(b, second),
                               _mm256_permutevar8x32_epi32(a, second), kMixBlend);
        a = na;
    }
};

} // namespace

FLIGHT_FORM_ENTRY_POINTS(avx2, Avx2)
