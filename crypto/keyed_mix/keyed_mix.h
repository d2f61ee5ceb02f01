// The keyed mixing function of every digest: 32 data-dependent iterations over the
// thread's hash key, in variants A, B and C, each in a fast and a portable form.
#pragma once

#include <cstdint>
#include "crypto/base/vec128.h"

using keyed_mix128_fn = vec128 (*)(vec128* key, const vec128* block, uint64_t keyIndexMask,
                                   vec128** touch);
using keyed_mix64_fn = uint64_t (*)(vec128* key, const vec128* block, uint64_t keyIndexMask,
                                    vec128** touch);

// All twelve mixing functions share one contract: |key| is the 32-byte aligned thread key
// (552 entries, entries 0..511 may be rewritten), |block| the 16-byte aligned 64-byte block
// (never written), |touch| receives the 64 entry references in iteration order. The fast
// forms need their instructions (x86-64: AES-NI and PCLMULQDQ; aarch64: AES and PMULL) and
// assume |keyIndexMask| is 8191; the portable forms derive the entry mask and start entry from
// |keyIndexMask|.

// keyed_mix128_<v>_<form> runs the 32 iterations of variant <v> (a, b, c) in |form| (fast,
// portable) and returns the accumulator; keyed_mix64_<v>_<form> is keyed_mix128_<v>_<form>
// followed by clhash_reduce64_<form>.
#define KEYED_MIX_DECLARE(v, form)                                                                 \
    vec128 keyed_mix128_##v##_##form(vec128* key, const vec128* block, uint64_t keyIndexMask,     \
                                     vec128** touch);                                             \
    uint64_t keyed_mix64_##v##_##form(vec128* key, const vec128* block, uint64_t keyIndexMask,    \
                                      vec128** touch);
KEYED_MIX_DECLARE(a, fast)
KEYED_MIX_DECLARE(b, fast)
KEYED_MIX_DECLARE(c, fast)
KEYED_MIX_DECLARE(a, portable)
KEYED_MIX_DECLARE(b, portable)
KEYED_MIX_DECLARE(c, portable)
#undef KEYED_MIX_DECLARE

// clhash_reduce64_fast mixes in the length term and reduces |acc| modulo
// x^64 + x^4 + x^3 + x + 1; needs the fast forms' carry-less multiply.
uint64_t clhash_reduce64_fast(vec128 acc);
// clhash_reduce64_portable is clhash_reduce64_fast in plain integer code.
uint64_t clhash_reduce64_portable(vec128 acc);

// soft_u128 is a 128-bit value of the portable code: lo is bytes 0..7, hi bytes 8..15.
struct soft_u128 {
    uint64_t lo;
    uint64_t hi;
};

// clmul64_soft returns the carry-less product of |a| and |b|.
soft_u128 clmul64_soft(uint64_t a, uint64_t b);

// clmul_select_soft returns the carry-less product of one half of |x| (bit 0 of |sel|: 0 lo,
// 1 hi) and one half of |y| (bit 4 of |sel|), as PCLMULQDQ does.
soft_u128 clmul_select_soft(soft_u128 x, soft_u128 y, unsigned sel);

// mulhrs16_soft returns, per signed 16-bit lane, (a * b + 0x4000) >> 15 cut to 16 bits, as
// PMULHRSW does.
soft_u128 mulhrs16_soft(soft_u128 a, soft_u128 b);

// shuffle_bytes_soft returns bytes table[idx_j & 15], or 0 where idx_j has bit 7 set, as
// PSHUFB does.
soft_u128 shuffle_bytes_soft(soft_u128 table, soft_u128 idx);
