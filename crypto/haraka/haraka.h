// Haraka v2 (5 rounds): Haraka-256, Haraka-512/256 and Haraka-512/256 under a
// caller-supplied constant table, in a portable and an AES-NI form each.
// Callers outside crypto/ reach them only through the dispatch slots.
#pragma once

#include <cstdint>

// HARAKA_RC: the 40 Haraka v2 round constants, 16 bytes each, least significant byte first;
// 32-byte aligned. Every form reads it directly, so no form needs preparing before use.
extern const uint8_t HARAKA_RC[640];

// aes_round_soft applies one AES encryption round (SubBytes, ShiftRows, MixColumns,
// AddRoundKey with |k|) to |block| in place.
void aes_round_soft(uint8_t block[16], const uint8_t k[16]);

// interleave_lo32 sets |dst| to the 32-bit words (a0, b0, a1, b1); |dst| may alias |a| or |b|.
void interleave_lo32(uint8_t dst[16], const uint8_t a[16], const uint8_t b[16]);

// interleave_hi32 sets |dst| to the 32-bit words (a2, b2, a3, b3); |dst| may alias |a| or |b|.
void interleave_hi32(uint8_t dst[16], const uint8_t a[16], const uint8_t b[16]);

// haraka512_permute writes the Haraka-512 permutation of the 64-byte |in| under the
// 40-entry constant |table| to |out|.
void haraka512_permute(uint8_t out[64], const uint8_t in[64], const uint8_t* table);

// haraka256_hash_portable writes Haraka-256 of the 32 bytes |in| to the 32 bytes |out|. No
// alignment needed.
void haraka256_hash_portable(uint8_t* out, const uint8_t* in);

// haraka512_hash_portable writes Haraka-512/256 of the 64 bytes |in| to the 32 bytes |out|.
// No alignment needed.
void haraka512_hash_portable(uint8_t* out, const uint8_t* in);

// haraka512_hash_rc_portable writes Haraka-512/256 of |in| under the 640-byte table |rc|
// to all 32 bytes of |out|.
void haraka512_hash_rc_portable(uint8_t* out, const uint8_t* in, const uint8_t* rc);

// haraka256_hash_fast is haraka256_hash_portable with AES-NI. |in| must be 16-byte aligned.
void haraka256_hash_fast(uint8_t* out, const uint8_t* in);

// haraka512_hash_fast is haraka512_hash_portable with AES-NI. |in| must be 16-byte aligned.
void haraka512_hash_fast(uint8_t* out, const uint8_t* in);

// haraka512_hash_rc_fast computes only out[24..31] of haraka512_hash_rc_portable and
// leaves out[0..23] untouched. |in| and |rc| must be 16-byte aligned.
void haraka512_hash_rc_fast(uint8_t* out, const uint8_t* in, const uint8_t* rc);
