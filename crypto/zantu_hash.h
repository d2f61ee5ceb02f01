// ZantuHash v2.x: the hasher object and everything a caller needs to drive it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/base/layout.h"
#include "crypto/hasher/hash_forms.h"
#include "crypto/hasher/hash_key.h"

// CZantuHashV2 absorbs one input prefix once and finishes many digests of it, one per
// patch of the pending input bytes (the nonce).
class CZantuHashV2 {
  public:
    int64_t keySize;
    int64_t keyIndexMask;
    keyed_mix64_fn mixFinal;
    keyed_mix128_fn mixCore;
    alignas(16) uint8_t blockA[64];
    alignas(16) uint8_t blockB[64];
    uint8_t* current;
    uint8_t* spare;
    uint64_t pending;

    // CZantuHashV2 selects the mixing variant for |version| (<= 2: A, 3: B, else C) and
    // form, and acquires the thread's key buffer; aborts when it cannot be had.
    explicit CZantuHashV2(int version);

    // SelectMixing sets the mixing pair of |version|'s variant in the forms of the probe's
    // answer (hash_forms_for), as the constructor does.
    void SelectMixing(int version);

    // Reset starts a new input: empty chaining value, nothing pending.
    void Reset();

    // Write absorbs |len| bytes, compressing each block as soon as it is full.
    CZantuHashV2& Write(const uint8_t* data, size_t len);

    // FillTail fills bytes 32 + pending .. 63 of the current block with |value| repeated
    // every |n| bytes.
    void FillTail(const uint8_t* value, int n);

    // Finalize finishes one digest of the current block under the thread's prepared key;
    // only out[24..31] are defined. The key is left as it was found.
    void Finalize(uint8_t out[32]);
};
