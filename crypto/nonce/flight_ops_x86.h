// The in-flight path's x86-64 primitives for the forms with 256-bit registers: a pair of
// entries in one register, over FastOps for single entries. Include only from files built with
// AVX2, VAES, VPCLMULQDQ, BMI1 and POPCNT (crypto/CMakeLists.txt). Each member is the
// primitive of its name in the list at the top of crypto/nonce/flight_impl.h.
#pragma once

#include <cstdint>
#include <immintrin.h>

#include "crypto/base/bytes.h"
#include "crypto/keyed_mix/ops_x86.h"

// 0x10's interleave of (x, y) held side by side: words x0 y0 x1 y1 x2 y2 x3 y3. Plain words: a
// vector constant at namespace scope would be built at start-up, on any processor.
alignas(32) constexpr int32_t kFlightInterleave[8] = {0, 4, 1, 5, 2, 6, 3, 7};

// FlightYmmOps: what the AVX2 and AVX-512 forms share.
struct FlightYmmOps : FastOps {
    using V = __m128i;
    using Pair = __m256i;
    struct Cases {
        __m256i lo, hi;
    };

    static ZANTU_INLINE V if_odd(int64_t d, V even, V odd) {
        return _mm_blendv_epi8(even, odd, _mm_set1_epi64x(-(d & 1)));
    }
    static ZANTU_INLINE Pair load_pair(const void* p) {
        return _mm256_loadu_si256(static_cast<const Pair*>(p));
    }
    static ZANTU_INLINE void store_pair(void* p, Pair v) {
        _mm256_store_si256(static_cast<Pair*>(p), v);
    }
    static ZANTU_INLINE Pair join(V lo, V hi) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    }
    static ZANTU_INLINE V low(Pair v) { return _mm256_castsi256_si128(v); }
    static ZANTU_INLINE V high(Pair v) { return _mm256_extracti128_si256(v, 1); }
    static ZANTU_INLINE Pair xor_pair(Pair a, Pair b) { return _mm256_xor_si256(a, b); }
    static ZANTU_INLINE Pair zero_pair() { return _mm256_setzero_si256(); }
    static ZANTU_INLINE Pair aes_pair(Pair x, Pair k) { return _mm256_aesenc_epi128(x, k); }
    static ZANTU_INLINE Pair cl_pair(Pair x) { return _mm256_clmulepi64_epi128(x, x, 0x10); }
    static ZANTU_INLINE Pair interleave(Pair v) {
        return _mm256_permutevar8x32_epi32(
            v, _mm256_load_si256(reinterpret_cast<const __m256i*>(kFlightInterleave)));
    }
    static ZANTU_INLINE Cases load_cases(const uint8_t* bytes) {
        return {_mm256_load_si256(reinterpret_cast<const __m256i*>(bytes)),
                _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes + 32))};
    }
    static ZANTU_INLINE unsigned lowest(uint64_t m) { return static_cast<unsigned>(_tzcnt_u64(m)); }
    static ZANTU_INLINE uint64_t clear_lowest(uint64_t m) { return _blsr_u64(m); }
    static ZANTU_INLINE unsigned lowest8(unsigned u) { return _tzcnt_u32(u | 0x100); }
    static ZANTU_INLINE unsigned popcount8(unsigned u) {
        return static_cast<unsigned>(_mm_popcnt_u32(u));
    }
};
