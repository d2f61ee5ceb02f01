// Writing the solver's nonce material into a slot and hashing one batch of its nonces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "crypto/nonce/nonce_path.h"

struct JobSlot;
class CZantuHashV2;

// candidate_checks: candidates of a multi-nonce path that Finalize confirmed (and that were
// written) and refused (not written, reported on standard error), since start.
extern CandidateChecks candidate_checks;

// build_hash_input writes the slot's 1487-byte hash input into |input|.
void build_hash_input(const JobSlot& slot, uint8_t* input);

// prepare_nonce_area clears new_job and writes the fixed nonce, the cpu_id byte and the
// upper nonce levels into the slot's header and solution, renewing a header commitment.
void prepare_nonce_area(JobSlot& slot);

// search_nonces hashes the slot's nonces nonce_base + j for j from 0 through |hasher| (built on
// this thread, version 4) on the installed nonce path, writes a solution line and bumps
// |candidates| per candidate that Finalize confirms, and returns how many it hashed: all
// |count|, or fewer when |stop| is found set after a nonce.
uint32_t search_nonces(CZantuHashV2& hasher, const std::atomic<uint8_t>& stop, uint64_t count,
                       JobSlot& slot, uint64_t& candidates);
