// The two-lane path's engine: several consecutive nonces of one prepared input hashed
// together on one thread, each lane on its own copy of the thread's key, so that one lane's
// arithmetic fills the other's stalls. Variant C only; digests equal Finalize's. Built in the
// fast form of its architecture (crypto/nonce/lanes_x86.cpp, lanes_neon.cpp).
#pragma once

#include <cstdint>

#include "crypto/base/layout.h"
#include "crypto/base/vec128.h"
#include "crypto/nonce/nonce_block.h"

class CZantuHashV2;

// NonceLanes hashes Lanes consecutive nonces per call. Instantiated for 1, 2 and 3 lanes;
// 2 lanes keep both key copies and the shared backup inside a 32 KiB first-level cache. Its
// members run the fast forms' instructions: call them only where the fast forms run.
template <int Lanes> class NonceLanes {
  public:
    static_assert(Lanes >= 1 && Lanes <= 3, "instantiated for 1 to 3 lanes");

    // Begin captures |hasher|'s current block (chaining value and pending input) and copies
    // the thread's prepared key into every lane; PrepareKey must have run for that block.
    void Begin(const CZantuHashV2& hasher);

    // Hash computes, for l = 0 .. Lanes - 1, the digest of nonce first + l (its low three
    // bytes written to block bytes 44..46, least significant first) and stores digest bytes
    // 24..31, read little-endian, in words[l]. The lanes' keys are restored afterwards.
    void Hash(uint32_t first, uint64_t words[Lanes]);

  private:
    alignas(64) vec128 keys_[Lanes][kKeyEntries];
    NonceBlock block_;
    const uint8_t* backup_ = nullptr;
};

extern template class NonceLanes<1>;
extern template class NonceLanes<2>;
extern template class NonceLanes<3>;

// kSearchLanes: the lane count that the nonce search uses.
constexpr int kSearchLanes = 2;

// scan_nonce_lanes runs the nonce loop of one batch on |lanes| (Begin already called): nonce
// nonce_base + j for j from 0, on_candidate(nonce) for every digest word below |target|, in
// nonce order; after each nonce it stops when stop() is true or |count| nonces are done,
// and returns how many it tested. Nonces hashed beyond that point are neither reported nor
// counted. |count| must be at least 1.
template <int Lanes, class OnCandidate, class Stop>
uint32_t scan_nonce_lanes(NonceLanes<Lanes>& lanes, uint32_t nonce_base, uint64_t count,
                          uint64_t target, OnCandidate&& on_candidate, Stop&& stop) {
    uint64_t words[Lanes];
    uint32_t j = 0;
    for (;;) {
        lanes.Hash(nonce_base + j, words);
        for (int l = 0; l < Lanes; ++l) {
            if (words[l] < target) on_candidate(nonce_base + j);
            ++j;
            if (stop() || j == count) return j;
        }
    }
}
