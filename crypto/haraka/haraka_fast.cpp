// Haraka's fast forms on this architecture's AES instructions (AES-NI on x86-64, the crypto
// extensions on aarch64). Compiled with the fast forms' flags; reached only after the probe
// found the instructions.
#include "crypto/haraka/haraka.h"

#if defined(__x86_64__)
#include "crypto/haraka/aes_ops_x86.h"
#elif defined(__aarch64__)
#include "crypto/haraka/aes_ops_arm64.h"
#endif
#include "crypto/haraka/haraka_rounds.h"

void haraka256_hash_fast(uint8_t* out, const uint8_t* in) {
    assert(is_aligned(in, 16));
    haraka::hash256<AesOps>(out, in, HARAKA_RC);
}

void haraka512_hash_fast(uint8_t* out, const uint8_t* in) {
    assert(is_aligned(in, 16));
    haraka::hash512<AesOps>(out, in, HARAKA_RC);
}

void haraka512_hash_rc_fast(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    assert(is_aligned(in, 16) && is_aligned(rc, 16));
    AesOps::store_low8(out + 24,
                       haraka::rc_low<AesOps>(AesOps::load(in), AesOps::load(in + 16),
                                              AesOps::load(in + 32), AesOps::load(in + 48), rc));
}
