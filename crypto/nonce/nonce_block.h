// The hasher's current block as every nonce of a batch starts it, for the multi-nonce paths.
#pragma once

#include <cstdint>

#include "crypto/base/bytes.h"

class CZantuHashV2;

// NonceBlock: s0..s3 after the first tail fill, with the nonce bytes (44..46) zero where the
// fill leaves them; which bytes of s2 carry the nonce; and, for s2 and s3, which byte of the
// mixing result each byte of the second fill takes and which bytes that fill writes.
struct NonceBlock {
    alignas(16) uint8_t s[64];
    alignas(16) uint8_t nonce_mask[16];
    alignas(16) uint8_t fill_shuffle[32];
    alignas(16) uint8_t fill_mask[32];
};

// capture_nonce_block fills |nb| from |hasher|'s current block and pending count (any
// pending count up to 15, so that the nonce bytes are input bytes).
void capture_nonce_block(const CZantuHashV2& hasher, NonceBlock& nb);

// with_nonce returns s2 (block bytes 32..47, as captured) with |nonce|'s low bytes where the
// block carries the nonce, over a form's block primitives Ops.
template <class Ops>
ZANTU_INLINE typename Ops::block with_nonce(const NonceBlock& nb, typename Ops::block s2,
                                            uint32_t nonce) {
    // Nonce bytes go to block bytes 44..46, i.e. bytes 12..14 of s2.
    return Ops::or_(s2, Ops::and_(Ops::high_word(nonce), Ops::load(nb.nonce_mask)));
}

// second_fill returns |base| (s2 for |half| 0, s3 for 1) with the second tail fill's bytes of
// the mixing result |v| written over it, over a form's block primitives Ops.
template <class Ops>
ZANTU_INLINE typename Ops::block second_fill(const NonceBlock& nb, int half,
                                             typename Ops::block base, uint64_t v) {
    const typename Ops::block bytes =
        Ops::shuffle(Ops::splat64(v), Ops::load(nb.fill_shuffle + 16 * half));
    return Ops::pick(base, bytes, Ops::load(nb.fill_mask + 16 * half));
}
