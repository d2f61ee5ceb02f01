// The reference nonce path: Finalize nonce by nonce, on whatever forms are installed.
#include <cstring>

#include "crypto/base/bytes.h"
#include "crypto/nonce/kernels.h"
#include "crypto/zantu_hash.h"

uint64_t nonce_digest_word(CZantuHashV2& hasher, uint32_t nonce) {
    alignas(32) uint8_t digest[32];
    uint8_t* block = hasher.current;
    for (size_t i = 0; i < kNonceBytes; ++i)
        block[kBlockNonceOffset + i] = static_cast<uint8_t>(nonce >> (8 * i));
    hasher.Finalize(digest);
    return load_le64(digest + kDigestWordOffset);
}

uint32_t finalize_scan(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count, uint64_t target,
                       const NonceScanSink& sink) {
    uint32_t j = 0;
    for (;;) {
        const uint32_t nonce = nonce_base + j;
        if (nonce_digest_word(hasher, nonce) < target) sink.candidate(sink.context, nonce);
        ++j;
        if (j == count || sink.stop(sink.context)) return j;
    }
}

bool finalize_words(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words) {
    for (uint32_t j = 0; j < count; ++j)
        words[j] = nonce_digest_word(hasher, first + j);
    return true;
}
