// The nonce paths of each architecture as one fallback chain, slowest first, and running a
// path: its kernel, or the first one down the chain that can run. Built for the baseline
// processor: every decision is taken here before any wider instruction runs.
#include "crypto/cpu/cpu_features.h"
#include "crypto/nonce/kernels.h"
#include "crypto/nonce/nonce_path.h"
#include "crypto/zantu_hash.h"

namespace {

int32_t always(const CpuFeatures&) {
    return 1;
}

bool nothing_to_reserve() {
    return true;
}

} // namespace

// clang-format off
// Each record: name, tag, decision, reserve, scan, words, working bytes, group, fallback.
const NoncePath kFinalizePath = {"Finalize", "finalize", always, nothing_to_reserve,
    finalize_scan, finalize_words, 0, 1, nullptr};
const NoncePath kLanesPath = {"two lanes", "lanes", fast_hash_decision, lanes_reserve,
    lanes_scan, lanes_words, kLanesWorkingBytes, 1, &kFinalizePath};
#if defined(__x86_64__)
const NoncePath kFlight128Path = {"in flight (128-bit)", "flight128", flight128_decision,
    flight_reserve_128, flight_scan_128, flight_words_128, kFlightWorkingBytes_128,
    kFlightGroup, &kLanesPath};
const NoncePath kFlightAvx2Path = {"in flight (AVX2)", "flight", flight_avx2_decision,
    flight_reserve_avx2, flight_scan_avx2, flight_words_avx2, kFlightWorkingBytes_avx2,
    kFlightGroup, &kFlight128Path};
const NoncePath kFlightAvx512Path = {"in flight (AVX-512)", "flight512", flight_avx512_decision,
    flight_reserve_avx512, flight_scan_avx512, flight_words_avx512, kFlightWorkingBytes_avx512,
    kFlightGroup, &kFlightAvx2Path};
const NoncePath* const kNoncePaths[] = {&kFinalizePath, &kLanesPath, &kFlight128Path,
    &kFlightAvx2Path, &kFlightAvx512Path};
#elif defined(__aarch64__)
const NoncePath kFlightPath = {"in flight", "flight", fast_hash_decision, flight_reserve_arm64,
    flight_scan_arm64, flight_words_arm64, kFlightWorkingBytes_arm64, kFlightGroup,
    &kLanesPath};
const NoncePath* const kNoncePaths[] = {&kFinalizePath, &kLanesPath, &kFlightPath};
#endif
// clang-format on
const size_t kNoncePathCount = sizeof kNoncePaths / sizeof kNoncePaths[0];

const NoncePath& best_nonce_path(const CpuFeatures& features, int32_t fast) {
    if (fast != 1) return kFinalizePath;
    for (size_t i = kNoncePathCount; i-- > 1;) {
        const NoncePath& path = *kNoncePaths[i];
        if (path.decision(features) == 1 && path.reserve()) return path;
    }
    return kFinalizePath;
}

NonceRun run_nonce_scan(const NoncePath& path, CZantuHashV2& hasher, uint32_t nonce_base,
                        uint64_t count, uint64_t target, const NonceScanSink& sink) {
    for (const NoncePath* p = &path;; p = p->fallback) {
        const uint32_t done = p->scan(hasher, nonce_base, count, target, sink);
        if (done != kCannotRun) return {done, p};
    }
}

const NoncePath& run_nonce_words(const NoncePath& path, CZantuHashV2& hasher, uint32_t first,
                                 uint32_t count, uint64_t* words) {
    const NoncePath* p = &path;
    while (!p->words(hasher, first, count, words))
        p = p->fallback;
    return *p;
}

namespace {

struct CheckedSink {
    CZantuHashV2& hasher;
    uint64_t target;
    const NonceScanSink& sink;
    CandidateChecks& checks;
};

// A candidate is rare (one in thousands of nonces), so a second, independent hash of it is
// almost free; the kernels keep their state apart from the hasher's block and the thread key.
void recheck_candidate(void* context, uint32_t nonce) {
    CheckedSink& c = *static_cast<CheckedSink*>(context);
    if (nonce_digest_word(c.hasher, nonce) < c.target) {
        ++c.checks.confirmed;
        c.sink.candidate(c.sink.context, nonce);
    } else {
        ++c.checks.rejected;
        if (c.sink.rejected) c.sink.rejected(c.sink.context, nonce);
    }
}

bool checked_stop(void* context) {
    const NonceScanSink& sink = static_cast<CheckedSink*>(context)->sink;
    return sink.stop(sink.context);
}

} // namespace

NonceRun scan_nonces_checked(const NoncePath& path, CZantuHashV2& hasher, uint32_t nonce_base,
                             uint64_t count, uint64_t target, const NonceScanSink& sink,
                             CandidateChecks& checks) {
    if (&path == &kFinalizePath)
        return run_nonce_scan(path, hasher, nonce_base, count, target, sink);
    CheckedSink checked{hasher, target, sink, checks};
    const NonceScanSink inner{recheck_candidate, checked_stop, &checked, nullptr};
    return run_nonce_scan(path, hasher, nonce_base, count, target, inner);
}
