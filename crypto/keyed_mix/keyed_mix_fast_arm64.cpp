// The fast forms on aarch64: AESE/AESMC, PMULL and NEON on 128-bit registers, every primitive
// inlined so that a call touches memory only for the key, the block and the working copy.
#include "crypto/keyed_mix/keyed_mix.h"
#include "crypto/keyed_mix/keyed_mix_rounds.h"
#include "crypto/keyed_mix/ops_arm64.h"

uint64_t clhash_reduce64_fast(vec128 acc) {
    return NeonOps::reduce64(acc);
}

KEYED_MIX_FORM(fast, NeonOps)
