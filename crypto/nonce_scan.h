// The nonce paths: the per-nonce loop of one batch, in the forms the dispatch chooses from.
// Every path gives the same digests, candidates and counts as the Finalize loop.
#pragma once

#include <cstdint>

class CZantuHashV2;

// NonceScanSink: where a path reports each candidate nonce (in nonce order) and asks whether
// to stop; a checked scan tells |rejected| (when set) of candidates its re-check refused.
struct NonceScanSink {
    void (*candidate)(void* context, uint32_t nonce);
    bool (*stop)(void* context);
    void* context;
    void (*rejected)(void* context, uint32_t nonce);
};

// All paths share one contract. |hasher| has absorbed the input (its pending bytes hold the
// last input bytes, bytes 44..46 of its current block the nonce) and the calling thread's key
// is prepared for its chaining value. Nonce nonce_base + j, for j from 0, goes with its low
// three bytes into block bytes 44..46; every digest word (bytes 24..31, little-endian) below
// |target| is reported. The path stops when |count| (at least 1) nonces are done or when
// stop() answers true, which it asks after every nonce, or, on the in-flight path, after every
// group of nonces it hashes together; with stop() already true at the call it hashes exactly
// one nonce. Returns the number of nonces done: a contiguous run from nonce_base, each of
// them reported once if a candidate; nonces hashed beyond it are neither reported nor counted.
// The thread's key is left as it was found.
using nonce_scan_fn_t = uint32_t (*)(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                                     uint64_t target, const NonceScanSink& sink);

// The digest words of a run of nonces, path by path, under the same preconditions: words[j]
// gets digest bytes 24..31 (little-endian) of nonce first + j, for j < count.
using nonce_words_fn_t = void (*)(CZantuHashV2& hasher, uint32_t first, uint32_t count,
                                  uint64_t* words);

// NoncePath: one nonce path, its digest-words twin and its name in reports.
struct NoncePath {
    const char* name;
    nonce_scan_fn_t scan;
    nonce_words_fn_t words;
};

// kFinalizePath, kLanesPath, kFlightPath, kFlightAvx512Path: the paths below.
extern const NoncePath kFinalizePath;
extern const NoncePath kLanesPath;
extern const NoncePath kFlightPath;
extern const NoncePath kFlightAvx512Path;

// CandidateChecks: how many candidates a checked scan's re-check confirmed and refused.
struct CandidateChecks {
    uint64_t confirmed;
    uint64_t rejected;
};

// scan_nonces_checked is |path|'s scan with every candidate hashed again through Finalize
// before it reaches sink.candidate; a candidate Finalize puts at or above |target| goes to
// sink.rejected instead. The Finalize path itself is not checked again. Finalize here runs on
// the installed Haraka forms and |hasher|'s mixing, which no multi-nonce path uses.
uint32_t scan_nonces_checked(const NoncePath& path, CZantuHashV2& hasher, uint32_t nonce_base,
                             uint64_t count, uint64_t target, const NonceScanSink& sink,
                             CandidateChecks& checks);

// nonce_digest_word returns digest bytes 24..31 (little-endian) of |nonce| through Finalize,
// under the preconditions of the paths; it rewrites the hasher's block from byte 44 on.
uint64_t nonce_digest_word(CZantuHashV2& hasher, uint32_t nonce);

// scan_nonces_finalize runs Finalize nonce by nonce: every form, every variant.
uint32_t scan_nonces_finalize(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                              uint64_t target, const NonceScanSink& sink);

// scan_nonces_lanes runs two nonces side by side; needs the fast forms. Falls back to
// scan_nonces_finalize for a hasher that is not on variant C's fast form.
uint32_t scan_nonces_lanes(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                           uint64_t target, const NonceScanSink& sink);

// scan_nonces_flight keeps a group of nonces in flight, advanced together and grouped by
// their next case; needs what nonce_flight_decision checks. Falls back to scan_nonces_lanes
// for a hasher that is not on variant C's fast form, or when its working memory (about 600 KB
// per thread, kept for the thread's life) cannot be had.
uint32_t scan_nonces_flight(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                            uint64_t target, const NonceScanSink& sink);

// scan_nonces_flight_avx512 is scan_nonces_flight in its AVX-512 form; needs what
// nonce_flight_avx512_decision checks, and falls back to scan_nonces_flight.
uint32_t scan_nonces_flight_avx512(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                                   uint64_t target, const NonceScanSink& sink);

// reserve_nonce_scan_memory makes the installed path's working memory for the calling thread
// now, so that hashing allocates nothing later; a path that cannot have it falls back at scan
// time.
void reserve_nonce_scan_memory();

// nonce_words_finalize, nonce_words_lanes, nonce_words_flight and nonce_words_flight_avx512
// are the paths' digest words, with the same fallbacks as their scans.
void nonce_words_finalize(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words);
void nonce_words_lanes(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words);
void nonce_words_flight(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words);
void nonce_words_flight_avx512(CZantuHashV2& hasher, uint32_t first, uint32_t count,
                               uint64_t* words);

// The in-flight path's forms, each built with its instructions: call one only where the
// guarded function above would (their probes have said yes). flight_reserve_* is
// reserve_nonce_scan_memory for the form.
uint32_t flight_scan_avx2(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                          uint64_t target, const NonceScanSink& sink);
void flight_words_avx2(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words);
void flight_reserve_avx2();
uint32_t flight_scan_avx512(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                            uint64_t target, const NonceScanSink& sink);
void flight_words_avx512(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words);
void flight_reserve_avx512();
