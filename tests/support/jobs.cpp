#include "tests/support/jobs.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <sodium.h>

#include "crypto/base/bytes.h"
#include "crypto/hasher/hash_key.h"
#include "crypto/nonce/nonce_path.h"
#include "crypto/selection.h"
#include "crypto/zantu_hash.h"

Bytes pattern_bytes(size_t n, uint32_t seed) {
    Bytes out(n);
    uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 7);
    }
    return out;
}

Bytes target_below(uint64_t limit) {
    Bytes target(32, 0xee);
    store_le64(target.data() + 24, limit);
    return target;
}

std::string JobFields::line() const {
    return pause + " " + pool + " " + to_hex(target) + " " + job_id + " " + to_hex(header) + " " +
           to_hex(fixed_nonce) + " " + to_hex(solution);
}

// The sample job, the hash input and the commitment record are built from the protocol's
// offsets written out here, not from solver/job_layout.h, so that the product's constants are
// checked against them.
Bytes JobFields::sample_header() {
    Bytes header = pattern_bytes(108, 7);
    const uint8_t version[4] = {0x04, 0, 0, 0};
    const uint8_t time[4] = {0x5f, 0x5e, 0x4d, 0x3c};
    std::memcpy(header.data(), version, 4);
    std::memcpy(header.data() + 100, time, 4);
    return header;
}

Bytes JobFields::sample_solution() {
    Bytes solution = pattern_bytes(1344, 11);
    solution[0] = 0x06;
    return solution;
}

void set_commit_mode(JobFields& job, CommitMode mode) {
    if (mode == CommitMode::plain) return;
    job.solution[0] = 7;
    job.solution[5] = 1;
    if (mode == CommitMode::record_empty) {
        std::fill(job.header.begin() + 4, job.header.begin() + 100, 0);
        std::fill(job.header.begin() + 104, job.header.begin() + 108, 0);
        std::fill(job.solution.begin() + 8, job.solution.begin() + 72, 0);
        return;
    }
    const Bytes digest = reference_commit_digest(commitment_record(job.header, job.solution));
    std::copy(digest.begin(), digest.end(), job.solution.begin() + 92);
}

JobSlot parsed_slot(const JobFields& job) {
    JobSlot slots[pool_count];
    for (JobSlot& s : slots)
        reset_job_slot(s);
    const JobParseResult result = parse_job_line_checked(job.line().c_str(), slots, pool_count);
    if (!result.slot) throw std::invalid_argument("the parser refuses the job line");
    return *result.slot;
}

void init_test_hashing() {
    static bool done = false;
    if (done) return;
    select_haraka_implementations();
    done = true;
}

namespace {

CZantuHashV2& test_hasher() {
    init_test_hashing();
    alignas(32) static CZantuHashV2 hasher(4);
    return hasher;
}

Bytes hash_input(const Bytes& header140, const Bytes& solution1344) {
    if (header140.size() != 140 || solution1344.size() != 1344)
        throw std::invalid_argument("header must be 140 bytes, solution 1344");
    Bytes input(header140);
    input.push_back(0xfd);
    input.push_back(0x40);
    input.push_back(0x05);
    input.insert(input.end(), solution1344.begin(), solution1344.end());
    return input;
}

// absorbed returns the tests' hasher with header ‖ fd 40 05 ‖ solution absorbed and the
// thread's key prepared for it.
CZantuHashV2& absorbed(const Bytes& header140, const Bytes& solution1344) {
    const Bytes input = hash_input(header140, solution1344);
    CZantuHashV2& hasher = test_hasher();
    hasher.Reset();
    hasher.Write(input.data(), input.size());
    PrepareKey(hasher.current);
    return hasher;
}

} // namespace

uint64_t digest_word(const Bytes& header140, const Bytes& solution1344) {
    CZantuHashV2& hasher = absorbed(header140, solution1344);
    alignas(32) uint8_t out[32];
    hasher.Finalize(out);
    return load_le64(out + 24);
}

std::vector<uint32_t> scan_candidates(const Bytes& header140, const Bytes& solution1344,
                                      uint64_t limit, uint32_t first, uint32_t last) {
    CZantuHashV2& hasher = absorbed(header140, solution1344);
    std::vector<uint32_t> found;
    for (uint64_t nonce = first; nonce <= last; ++nonce)
        if (nonce_digest_word(hasher, static_cast<uint32_t>(nonce)) < limit)
            found.push_back(static_cast<uint32_t>(nonce));
    return found;
}

Bytes commitment_record(const Bytes& header, const Bytes& solution, const Bytes& nonce_area) {
    Bytes full = header;
    full.resize(140, 0);
    Bytes record(196, 0);
    std::copy(full.begin() + 4, full.begin() + 100, record.begin());
    std::copy(nonce_area.begin(), nonce_area.end(), record.begin() + 96);
    std::copy(full.begin() + 104, full.begin() + 108, record.begin() + 128);
    std::copy(solution.begin() + 8, solution.begin() + 72, record.begin() + 132);
    return record;
}

Bytes reference_commit_digest(const Bytes& record) {
    const unsigned char personal[16] = {'Z', 'a', 'n', 't', 'u', 'D', 'e', 'f',
                                        'a', 'u', 'l', 't', 'H', 'a', 's', 'h'};
    crypto_generichash_blake2b_state state;
    Bytes out(32);
    crypto_generichash_blake2b_init_salt_personal(&state, nullptr, 0, 32, nullptr, personal);
    crypto_generichash_blake2b_update(&state, record.data(), record.size());
    crypto_generichash_blake2b_final(&state, out.data(), 32);
    return out;
}
