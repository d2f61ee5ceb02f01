// The AES round and the lane moves of the fast forms on x86-64 (AES-NI, SSE2), force-inlined:
// what Haraka is built from, and the base of the block primitives above it
// (crypto/keyed_mix/ops_x86.h). Include only from files compiled with the fast forms' flags.
#pragma once

#include <cstdint>
#include <immintrin.h>

#include "crypto/base/bytes.h"

struct AesOps {
    using block = __m128i;

    // load reads 16 bytes at a 16-byte aligned |p|; store_unaligned writes them anywhere.
    static ZANTU_INLINE block load(const void* p) {
        return _mm_load_si128(static_cast<const __m128i*>(p));
    }
    static ZANTU_INLINE void store(void* p, block v) {
        _mm_store_si128(static_cast<__m128i*>(p), v);
    }
    static ZANTU_INLINE void store_unaligned(void* p, block v) {
        _mm_storeu_si128(static_cast<__m128i*>(p), v);
    }
    // store_low8 writes bytes 0..7 of |v| to |p|, any alignment.
    static ZANTU_INLINE void store_low8(void* p, block v) {
        _mm_storel_epi64(static_cast<__m128i*>(p), v);
    }
    static ZANTU_INLINE block xor_(block a, block b) { return _mm_xor_si128(a, b); }
    // aes is one AES encryption round of |x| with round key |k| (AESENC); aes2 two of them.
    static ZANTU_INLINE block aes(block x, block k) { return _mm_aesenc_si128(x, k); }
    static ZANTU_INLINE block aes2(block x, block k1, block k2) { return aes(aes(x, k1), k2); }
    // lo32, hi32: the 32-bit words (x0, y0, x1, y1) and (x2, y2, x3, y3).
    static ZANTU_INLINE block lo32(block x, block y) { return _mm_unpacklo_epi32(x, y); }
    static ZANTU_INLINE block hi32(block x, block y) { return _mm_unpackhi_epi32(x, y); }
    // lo64, hi64: the 64-bit halves (x0, y0) and (x1, y1).
    static ZANTU_INLINE block lo64(block x, block y) { return _mm_unpacklo_epi64(x, y); }
    static ZANTU_INLINE block hi64(block x, block y) { return _mm_unpackhi_epi64(x, y); }
    static ZANTU_INLINE uint64_t low64(block x) {
        return static_cast<uint64_t>(_mm_cvtsi128_si64(x));
    }
};
