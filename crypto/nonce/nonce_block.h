// The hasher's current block as every nonce of a batch starts it, for the multi-nonce paths.
#pragma once

#include <cstdint>

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
