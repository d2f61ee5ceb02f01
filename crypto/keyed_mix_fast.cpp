// The fast forms: AES-NI, PCLMULQDQ and SSSE3 on 128-bit registers, every primitive
// inlined so that a call touches memory only for the key, the block and the working copy.
#include "crypto/keyed_mix.h"
#include "crypto/keyed_mix_fast_ops.h"

uint64_t clhash_reduce64_fast(__m128i acc) {
    return reduce64_fast(acc);
}

#define KEYED_MIX_FAST(letter, variant)                                                            \
    __m128i keyed_mix128_##letter##_fast(__m128i* key, const __m128i* block,                       \
                                         uint64_t keyIndexMask, __m128i** touch) {                 \
        return keyed_mix_rounds<FastOps, variant>(key, block, keyIndexMask, touch);                \
    }                                                                                              \
    uint64_t keyed_mix64_##letter##_fast(__m128i* key, const __m128i* block,                       \
                                         uint64_t keyIndexMask, __m128i** touch) {                 \
        return reduce64_fast(keyed_mix_rounds<FastOps, variant>(key, block, keyIndexMask, touch)); \
    }

KEYED_MIX_FAST(a, mix_variant::a)
KEYED_MIX_FAST(b, mix_variant::b)
KEYED_MIX_FAST(c, mix_variant::c)
