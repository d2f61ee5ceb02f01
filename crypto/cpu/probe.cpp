// The cached fast-forms answer that every consumer reads.
#include "crypto/cpu/cpu_features.h"

int32_t fast_hash_support = kNotProbed;

int32_t probe_fast_hash_support() {
    if (!(fast_hash_support & kNotProbed)) return fast_hash_support;
    fast_hash_support = fast_hash_decision(read_fast_hash_features());
    return fast_hash_support;
}
