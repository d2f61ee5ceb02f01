#include "crypto/nonce/nonce_block.h"

#include <cstring>

#include "crypto/zantu_hash.h"

void capture_nonce_block(const CZantuHashV2& hasher, NonceBlock& nb) {
    // The tail fills start at block byte 32 + pending; the first repeats bytes 0..15, the
    // second the 8 bytes of the mixing result. Bytes 32..63 are s2 and s3.
    std::memcpy(nb.s, hasher.current, 64);
    std::memset(nb.nonce_mask, 0, sizeof nb.nonce_mask);
    const size_t start = 32 + hasher.pending;
    for (size_t b = start; b < 64; ++b)
        nb.s[b] = nb.s[(b - start) % 16];
    for (size_t b = kBlockNonceOffset; b < kBlockNonceOffset + kNonceBytes; ++b) {
        if (b >= start) continue; // the fill overwrites this nonce byte
        nb.s[b] = 0;
        nb.nonce_mask[b - 32] = 0xff;
    }
    for (size_t b = 32; b < 64; ++b) {
        nb.fill_shuffle[b - 32] = static_cast<uint8_t>(b >= start ? (b - start) % 8 : 0);
        nb.fill_mask[b - 32] = b >= start ? 0xff : 0;
    }
}
