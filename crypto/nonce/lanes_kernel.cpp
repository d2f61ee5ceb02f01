// The two-lane path's kernel: the batch loop over the lanes of its architecture's form.
#include <cassert>

#include "crypto/nonce/kernels.h"
#include "crypto/nonce/lanes.h"
#include "crypto/zantu_hash.h"

namespace {

// The search's lanes, two key copies in the thread's own storage, made with the thread.
NonceLanes<kSearchLanes>& thread_lanes() {
    thread_local NonceLanes<kSearchLanes> lanes;
    return lanes;
}

} // namespace

const size_t kLanesWorkingBytes = sizeof(NonceLanes<kSearchLanes>);

bool lanes_reserve() {
    thread_lanes();
    return true;
}

uint32_t lanes_scan(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count, uint64_t target,
                    const NonceScanSink& sink) {
    assert(runs_variant_c(hasher.mixFinal));
    NonceLanes<kSearchLanes>& lanes = thread_lanes();
    lanes.Begin(hasher);
    return scan_nonce_lanes(
        lanes, nonce_base, count, target,
        [&sink](uint32_t nonce) { sink.candidate(sink.context, nonce); },
        [&sink] { return sink.stop(sink.context); });
}

bool lanes_words(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words) {
    assert(runs_variant_c(hasher.mixFinal));
    NonceLanes<kSearchLanes>& lanes = thread_lanes();
    lanes.Begin(hasher);
    uint64_t pair[kSearchLanes];
    for (uint32_t j = 0; j < count; j += kSearchLanes) {
        lanes.Hash(first + j, pair);
        for (uint32_t l = 0; l < kSearchLanes && j + l < count; ++l)
            words[j + l] = pair[l];
    }
    return true;
}
