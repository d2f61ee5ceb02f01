// The reference nonce path: Finalize nonce by nonce, on whatever forms are installed.
#include "crypto/nonce_scan.h"

#include <cstring>

#include "crypto/nonce_lanes.h"
#include "crypto/zantu_hash.h"

uint64_t nonce_digest_word(CZantuHashV2& hasher, uint32_t nonce) {
    alignas(32) uint8_t digest[32];
    uint8_t* block = hasher.current;
    for (size_t i = 0; i < kNonceBytes; ++i)
        block[kBlockNonceOffset + i] = static_cast<uint8_t>(nonce >> (8 * i));
    hasher.Finalize(digest);
    uint64_t word;
    std::memcpy(&word, digest + 24, 8); // x86-64 is little-endian, as the digest wants
    return word;
}

namespace {

// Checked in code built for every processor, before any wide instruction runs.
bool flight_usable(const CZantuHashV2& hasher) {
    return nonce_flight_support == 1 && NonceLanes<kSearchLanes>::Usable(hasher);
}

bool flight_avx512_usable(const CZantuHashV2& hasher) {
    return nonce_flight_avx512_support == 1 && flight_usable(hasher);
}

} // namespace

void nonce_words_finalize(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words) {
    for (uint32_t j = 0; j < count; ++j)
        words[j] = nonce_digest_word(hasher, first + j);
}

void nonce_words_flight(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words) {
    if (flight_usable(hasher))
        flight_words_avx2(hasher, first, count, words);
    else
        nonce_words_lanes(hasher, first, count, words);
}

void nonce_words_flight_avx512(CZantuHashV2& hasher, uint32_t first, uint32_t count,
                               uint64_t* words) {
    if (flight_avx512_usable(hasher))
        flight_words_avx512(hasher, first, count, words);
    else
        nonce_words_flight(hasher, first, count, words);
}

void reserve_nonce_scan_memory() {
    if (nonce_path == &kFlightPath && nonce_flight_support == 1) flight_reserve_avx2();
    if (nonce_path == &kFlightAvx512Path && nonce_flight_avx512_support == 1)
        flight_reserve_avx512();
}

uint32_t scan_nonces_finalize(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                              uint64_t target, const NonceScanSink& sink) {
    uint32_t j = 0;
    for (;;) {
        const uint32_t nonce = nonce_base + j;
        if (nonce_digest_word(hasher, nonce) < target) sink.candidate(sink.context, nonce);
        ++j;
        if (j == count || sink.stop(sink.context)) return j;
    }
}

uint32_t scan_nonces_flight(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                            uint64_t target, const NonceScanSink& sink) {
    if (!flight_usable(hasher)) return scan_nonces_lanes(hasher, nonce_base, count, target, sink);
    return flight_scan_avx2(hasher, nonce_base, count, target, sink);
}

uint32_t scan_nonces_flight_avx512(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                                   uint64_t target, const NonceScanSink& sink) {
    if (!flight_avx512_usable(hasher))
        return scan_nonces_flight(hasher, nonce_base, count, target, sink);
    return flight_scan_avx512(hasher, nonce_base, count, target, sink);
}

const NoncePath kFinalizePath = {"Finalize", scan_nonces_finalize, nonce_words_finalize};
const NoncePath kLanesPath = {"two lanes", scan_nonces_lanes, nonce_words_lanes};
const NoncePath kFlightPath = {"in flight (AVX2)", scan_nonces_flight, nonce_words_flight};
const NoncePath kFlightAvx512Path = {"in flight (AVX-512)", scan_nonces_flight_avx512,
                                     nonce_words_flight_avx512};

namespace {

struct CheckedSink {
    CZantuHashV2& hasher;
    uint64_t target;
    const NonceScanSink& sink;
    CandidateChecks& checks;
};

// A candidate is rare (one in thousands of nonces), so a second, independent hash of it is
// almost free; the paths keep their state apart from the hasher's block and the thread key.
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

uint32_t scan_nonces_checked(const NoncePath& path, CZantuHashV2& hasher, uint32_t nonce_base,
                             uint64_t count, uint64_t target, const NonceScanSink& sink,
                             CandidateChecks& checks) {
    if (path.scan == scan_nonces_finalize)
        return scan_nonces_finalize(hasher, nonce_base, count, target, sink);
    CheckedSink checked{hasher, target, sink, checks};
    const NonceScanSink inner{recheck_candidate, checked_stop, &checked, nullptr};
    return path.scan(hasher, nonce_base, count, target, inner);
}
