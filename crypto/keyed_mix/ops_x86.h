// The x86-64 block primitives of the fast forms, force-inlined: the one set of wrappers that
// the mixing's fast form, the two-lane path and the in-flight path build on. Include only from
// files compiled with the fast forms' flags (crypto/CMakeLists.txt: AES-NI, PCLMULQDQ, and the
// SSSE3 and SSE4.1 that every processor with AVX has).
#pragma once

#include <immintrin.h>

#include "crypto/base/bytes.h"
#include "crypto/base/layout.h"
#include "crypto/base/vec128.h"
#include "crypto/haraka/aes_ops_x86.h"
#include "crypto/keyed_mix/fast_ops_base.h"
#include "crypto/keyed_mix/mix_cases.h"

// FastOps are the block primitives of the fast forms, for keyed_mix_rounds and the nonce paths.
struct FastOps : FastOpsBase<AesOps> {
    static ZANTU_INLINE vec128 to_vec128(block v) { return v; }
    static ZANTU_INLINE block zero() { return _mm_setzero_si128(); }
    static ZANTU_INLINE block cl(block x) { return _mm_clmulepi64_si128(x, x, 0x10); }
    static ZANTU_INLINE block mh(block a, block b) { return _mm_mulhrs_epi16(a, b); }
    static ZANTU_INLINE block xor_low32(block acc, uint32_t v) {
        return _mm_xor_si128(acc, _mm_cvtsi32_si128(static_cast<int>(v)));
    }
    // pick returns |if_set| where |mask|'s bytes have their top bit set, else |if_clear|.
    static ZANTU_INLINE block pick(block if_clear, block if_set, block mask) {
        return _mm_blendv_epi8(if_clear, if_set, mask);
    }
    // all_or_none returns all ones when |bit| (0 or 1) is 1, else zero.
    static ZANTU_INLINE block all_or_none(uint64_t bit) {
        return _mm_set1_epi64x(-static_cast<int64_t>(bit));
    }
    // splat64 returns |v| in both halves.
    static ZANTU_INLINE block splat64(uint64_t v) {
        return _mm_set1_epi64x(static_cast<int64_t>(v));
    }
    // shuffle returns the bytes of |table| that |idx| names (bytes 0..15; 0 where bit 7 is set).
    static ZANTU_INLINE block shuffle(block table, block idx) {
        return _mm_shuffle_epi8(table, idx);
    }
    // high_word returns |v| in bytes 12..15, zeros elsewhere.
    static ZANTU_INLINE block high_word(uint32_t v) {
        return _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(v)), 12);
    }
    static ZANTU_INLINE block and_(block a, block b) { return _mm_and_si128(a, b); }
    static ZANTU_INLINE block or_(block a, block b) { return _mm_or_si128(a, b); }
    // equal_bytes returns bit j set where byte j of |v| is |want|.
    static ZANTU_INLINE uint16_t equal_bytes(block v, uint8_t want) {
        return static_cast<uint16_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(want)))));
    }

    // reduce64 is clhash_reduce64_fast, inlined where it is used.
    static ZANTU_INLINE uint64_t reduce64(block acc) {
        // Length term: lo 64, hi 1024; its product 0x10000 lands in the low half.
        const __m128i length = _mm_set_epi64x(1024, 64);
        acc = _mm_xor_si128(acc, _mm_clmulepi64_si128(length, length, 0x10));
        const __m128i poly = _mm_set_epi64x(0, 0x1b);
        const __m128i y = _mm_clmulepi64_si128(acc, poly, 0x01);
        const __m128i table =
            _mm_setr_epi8(0x00, 0x1b, 0x36, 0x2d, 0x6c, 0x77, 0x5a, 0x41, static_cast<char>(0xd8),
                          static_cast<char>(0xc3), static_cast<char>(0xee), static_cast<char>(0xf5),
                          static_cast<char>(0xb4), static_cast<char>(0xaf), static_cast<char>(0x82),
                          static_cast<char>(0x99));
        const __m128i folded = _mm_shuffle_epi8(table, _mm_srli_si128(y, 8));
        return static_cast<uint64_t>(
            _mm_cvtsi128_si64(_mm_xor_si128(_mm_xor_si128(acc, y), folded)));
    }
};
