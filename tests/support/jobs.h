// Job-line building and independent digest computation shared by the solver tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "solver/job_slot.h"
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

// CommitMode: whether a job's solution keeps its header out of the commitment modes (byte 0
// below 7), commits to an all-zero record, or commits to its header by the record's digest.
enum class CommitMode { plain, record_empty, commit_header };

// set_commit_mode gives |job| |mode| (from plain): solution bytes 0 and 5 at 7 and 1; for
// record_empty zeros where the record comes from (header bytes 4..99 and 104..107, solution
// bytes 8..71); for commit_header the digest of its record (without the fixed nonce) at
// solution bytes 92..123. The header is 108 bytes.
void set_commit_mode(JobFields& job, CommitMode mode);

// parsed_slot parses |job|'s line into fresh slots, as the main loop would, and returns the
// slot it filled; throws std::invalid_argument when the parser refuses the line.
JobSlot parsed_slot(const JobFields& job);

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
