// The fast forms' block primitives and final reduction, force-inlined, shared by the fast
// mixing entry points and the multi-nonce path. Include only from files compiled with
// -maes -mpclmul.
#pragma once

#include <immintrin.h>

#include "crypto/layout.h"
#include "crypto/keyed_mix_impl.h"

// FastOps are the block primitives of the fast forms, for keyed_mix_rounds.
struct FastOps {
    using block = __m128i;

    static KEYED_MIX_INLINE block load(const __m128i* p) { return _mm_load_si128(p); }
    static KEYED_MIX_INLINE void store(__m128i* p, block v) { _mm_store_si128(p, v); }
    static KEYED_MIX_INLINE block xor_(block a, block b) { return _mm_xor_si128(a, b); }
    static KEYED_MIX_INLINE block cl(block x) { return _mm_clmulepi64_si128(x, x, 0x10); }
    static KEYED_MIX_INLINE block mh(block a, block b) { return _mm_mulhrs_epi16(a, b); }
    static KEYED_MIX_INLINE block aes(block x, block k) { return _mm_aesenc_si128(x, k); }
    static KEYED_MIX_INLINE block lo32(block x, block y) { return _mm_unpacklo_epi32(x, y); }
    static KEYED_MIX_INLINE block hi32(block x, block y) { return _mm_unpackhi_epi32(x, y); }
    static KEYED_MIX_INLINE uint64_t low64(block x) {
        return static_cast<uint64_t>(_mm_cvtsi128_si64(x));
    }
    static KEYED_MIX_INLINE block xor_low32(block acc, uint32_t v) {
        return _mm_xor_si128(acc, _mm_cvtsi32_si128(static_cast<int>(v)));
    }

    static KEYED_MIX_INLINE __m128i* start(__m128i* key, uint64_t) { return key + kStartEntry; }
    static KEYED_MIX_INLINE __m128i* entry_r(__m128i* key, uint64_t sel, uint64_t) {
        return reinterpret_cast<__m128i*>(reinterpret_cast<char*>(key) +
                                          ((sel >> 1) & kEntryOffsetMask));
    }
    static KEYED_MIX_INLINE __m128i* entry_x(__m128i* key, uint64_t sel, uint64_t) {
        return reinterpret_cast<__m128i*>(reinterpret_cast<char*>(key) +
                                          ((sel >> 28) & kEntryOffsetMask));
    }
};

// reduce64_fast is clhash_reduce64_fast, inlined where it is used.
KEYED_MIX_INLINE uint64_t reduce64_fast(__m128i acc) {
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
    return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_xor_si128(_mm_xor_si128(acc, y), folded)));
}
