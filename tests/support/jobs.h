// Job-line building and independent digest computation shared by the solver tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/hex.h"

// pattern_bytes returns |n| deterministic, varied bytes that depend on |seed|.
Bytes pattern_bytes(size_t n, uint32_t seed);

// target_below returns a target whose bytes 24..31 read little-endian as |limit|; other
// bytes are 0xee, which the candidate test must ignore.
Bytes target_below(uint64_t limit);

// JobFields: the fields of one job line, kept apart so tests can bend any of them.
struct JobFields {
    std::string pause = "0";
    std::string pool = "1";
    Bytes target = target_below(uint64_t{1} << 56);
    std::string job_id = "job-1";
    Bytes header = sample_header();
    Bytes fixed_nonce = from_hex("a1b2c3d4");
    Bytes solution = sample_solution();

    // line joins the fields with single spaces.
    std::string line() const;

    // sample_header returns a 108-byte header with non-trivial hashes and time 5f5e4d3c.
    static Bytes sample_header();
    // sample_solution returns a 1344-byte solution whose first byte keeps it out of the
    // commitment modes.
    static Bytes sample_solution();
};

// init_test_hashing loads the Haraka constants and installs the forms for this processor.
void init_test_hashing();

// digest_word hashes header ‖ fd 40 05 ‖ solution from scratch and returns digest bytes
// 24..31 as a little-endian number.
uint64_t digest_word(const Bytes& header140, const Bytes& solution1344);

// scan_candidates returns the nonces in [first, last] whose digest word is below |limit|,
// hashing each with its low three bytes in the solution's last three bytes.
std::vector<uint32_t> scan_candidates(const Bytes& header140, const Bytes& solution1344,
                                      uint64_t limit, uint32_t first, uint32_t last);

// commitment_record returns the 196 bytes a header commitment covers: header bytes 4..99,
// a 32-byte nonce area (|nonce_area|, then zeros), header bytes 104..107, solution 8..71.
// A header shorter than 140 bytes reads as zero-filled.
Bytes commitment_record(const Bytes& header, const Bytes& solution, const Bytes& nonce_area = {});

// reference_commit_digest computes the personalised BLAKE2b of |record| straight from
// libsodium.
Bytes reference_commit_digest(const Bytes& record);
