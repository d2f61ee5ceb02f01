// The nonce paths: the per-nonce loop of one batch, in the forms the selection chooses from,
// each falling back to the next slower one. Every path gives the same digests, candidates and
// counts as the Finalize loop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cpu/cpu_features.h"

class CZantuHashV2;

// NonceScanSink: where a path reports each candidate nonce (in nonce order) and asks whether
// to stop; a checked scan tells |rejected| (when set) of candidates its re-check refused.
struct NonceScanSink {
    void (*candidate)(void* context, uint32_t nonce);
    bool (*stop)(void* context);
    void* context;
    void (*rejected)(void* context, uint32_t nonce);
};

// All kernels share one contract. |hasher| runs variant C and has absorbed the input (its
// pending bytes hold the last input bytes, bytes 44..46 of its current block the nonce), and
// the calling thread's key is prepared for its chaining value. Nonce nonce_base + j, for j
// from 0, goes with its low three bytes into block bytes 44..46; every digest word (bytes
// 24..31, little-endian) below |target| is reported. A kernel stops when |count| (at least 1)
// nonces are done or when stop() answers true, which it asks after every nonce, or, on the
// in-flight path, after every group of nonces it hashes together; with stop() already true at
// the call it hashes exactly one nonce. Returns the number of nonces done: a contiguous run
// from nonce_base, each of them reported once if a candidate; nonces hashed beyond it are
// neither reported nor counted. The thread's key is left as it was found. A kernel that
// cannot have its working memory on the calling thread returns kCannotRun and has done
// nothing.
using nonce_scan_fn_t = uint32_t (*)(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                                     uint64_t target, const NonceScanSink& sink);
constexpr uint32_t kCannotRun = ~uint32_t{0};

// The digest words of a run of nonces under the same preconditions: words[j] gets digest
// bytes 24..31 (little-endian) of nonce first + j, for j < count. Returns false, having
// written nothing, when the kernel cannot have its working memory.
using nonce_words_fn_t = bool (*)(CZantuHashV2& hasher, uint32_t first, uint32_t count,
                                  uint64_t* words);

// NoncePath: one path, the instructions its kernel needs, its working memory and the path it
// falls back to.
struct NoncePath {
    const char* name;                          // in reports and the bench table
    const char* tag;                           // on command lines: finalize, lanes, flight, ...
    int32_t (*decision)(const CpuFeatures& f); // 1 when |f| offers the kernel's instructions
    bool (*reserve)();         // makes the calling thread's working memory; false if it cannot
    nonce_scan_fn_t scan;      // the kernel
    nonce_words_fn_t words;    // its digest words
    size_t working_bytes;      // the kernel's working memory per thread
    uint32_t group;            // nonces it hashes between two questions to stop() (1: each nonce)
    const NoncePath* fallback; // the next slower path; none for Finalize
};

// The paths of this architecture; kNoncePaths lists them slowest first, each falling back to
// the one before it.
extern const NoncePath kFinalizePath;
extern const NoncePath kLanesPath;
#if defined(__x86_64__)
extern const NoncePath kFlight128Path;
extern const NoncePath kFlightAvx2Path;
extern const NoncePath kFlightAvx512Path;
#elif defined(__aarch64__)
extern const NoncePath kFlightPath;
#endif
extern const NoncePath* const kNoncePaths[];
extern const size_t kNoncePathCount;

// best_nonce_path returns the fastest path whose kernel a processor with |features| runs,
// that needs no more than the forms of probe answer |fast| (only Finalize for the portable
// forms), and whose working memory the calling thread has (it is made now, so that hashing
// allocates nothing later).
const NoncePath& best_nonce_path(const CpuFeatures& features, int32_t fast);

// NonceRun: how many nonces a scan did, and the path whose kernel did them.
struct NonceRun {
    uint32_t done;
    const NoncePath* path;
};

// run_nonce_scan runs |path|'s kernel, or, when that cannot run on the calling thread, the
// first kernel down its fallbacks that can.
NonceRun run_nonce_scan(const NoncePath& path, CZantuHashV2& hasher, uint32_t nonce_base,
                        uint64_t count, uint64_t target, const NonceScanSink& sink);

// run_nonce_words fills |words| as run_nonce_scan chooses its kernel, and returns the path
// whose kernel produced them.
const NoncePath& run_nonce_words(const NoncePath& path, CZantuHashV2& hasher, uint32_t first,
                                 uint32_t count, uint64_t* words);

// CandidateChecks: how many candidates a checked scan's re-check confirmed and refused.
struct CandidateChecks {
    uint64_t confirmed;
    uint64_t rejected;
};

// scan_nonces_checked is run_nonce_scan with every candidate of a multi-nonce kernel hashed
// again through Finalize before it reaches sink.candidate; a candidate Finalize puts at or
// above |target| goes to sink.rejected instead. Finalize here runs on the installed Haraka
// forms and |hasher|'s mixing, which no multi-nonce kernel uses.
NonceRun scan_nonces_checked(const NoncePath& path, CZantuHashV2& hasher, uint32_t nonce_base,
                             uint64_t count, uint64_t target, const NonceScanSink& sink,
                             CandidateChecks& checks);

// nonce_digest_word returns digest bytes 24..31 (little-endian) of |nonce| through Finalize,
// under the preconditions of the kernels but any variant; it rewrites the hasher's block from
// byte 44 on.
uint64_t nonce_digest_word(CZantuHashV2& hasher, uint32_t nonce);
