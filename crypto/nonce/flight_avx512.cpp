// The in-flight nonce path's AVX-512 form: the AVX2 form with mask registers for its
// selections, 32 vector registers, and two-source permutes for the Haraka interleave, on
// 256-bit registers still. Compiled as the AVX2 form is, with AVX-512 F, VL, BW and DQ as
// well; it runs only where flight_avx512_decision is 1.
#include "crypto/nonce/flight_ops_x86.h"

#include "crypto/nonce/flight_impl.h"

namespace {

alignas(32) constexpr int32_t kMixFirst[8] = {3, 11, 7, 15, 8, 0, 12, 4};
alignas(32) constexpr int32_t kMixSecond[8] = {9, 1, 13, 5, 2, 10, 6, 14};

struct Avx512 : FlightYmmOps {
    static ZANTU_INLINE uint64_t case_mask(Cases cases, uint8_t want) {
        const __m256i w = _mm256_set1_epi8(static_cast<char>(want));
        return uint64_t{_mm256_cmpeq_epi8_mask(cases.lo, w)} |
               uint64_t{_mm256_cmpeq_epi8_mask(cases.hi, w)} << 32;
    }
    static ZANTU_INLINE __m128i if_odd(int64_t d, __m128i even, __m128i odd) {
        return _mm_mask_mov_epi64(even, static_cast<__mmask8>(-(d & 1)), odd);
    }
    using Lanes = uint32_t; // two mask bits (the lane's 64-bit halves) per lane
    static ZANTU_INLINE Lanes lanes(unsigned bits) { return _pdep_u32(bits, 0x5555) * 3; }
    static ZANTU_INLINE __m256i kept(Lanes lanes, int h, __m256i v) {
        return _mm256_maskz_mov_epi64(static_cast<__mmask8>(lanes >> 4 * h), v);
    }
    static ZANTU_INLINE __m256i xor_kept(__m256i sum, Lanes lanes, int h, __m256i v) {
        return _mm256_mask_xor_epi64(sum, static_cast<__mmask8>(lanes >> 4 * h), sum, v);
    }
    static ZANTU_INLINE void mix(__m256i& a, __m256i& b) {
        const __m256i first = _mm256_load_si256(reinterpret_cast<const __m256i*>(kMixFirst));
        const __m256i second = _mm256_load_si256(reinterpret_cast<const __m256i*>(kMixSecond));
        const __m256i na = _mm256_permutex2var_epi32(a, first, b);
        b = _mm256_permutex2var_epi32(a, second, b);
        a = na;
    }
};

} // namespace

FLIGHT_FORM_ENTRY_POINTS(avx512, Avx512)
