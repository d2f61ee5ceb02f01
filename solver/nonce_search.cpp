#include "solver/nonce_search.h"

#include <cstdio>
#include <cstring>

#include "crypto/zantu_hash.h"
#include "solver/job_slot.h"
#include "solver/settings.h"
#include "solver/solution_line.h"
#include "solver/solver_loop.h"

namespace {

uint64_t read_le64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

bool all_zero(const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (data[i] != 0) return false;
    return true;
}

} // namespace

void build_hash_input(const JobSlot& slot, uint8_t* input) {
    std::memcpy(input, slot.header, 140);
    input[140] = 0xfd;
    input[141] = 0x40;
    input[142] = 0x05;
    std::memcpy(input + 143, slot.solution, 1344);
}

void prepare_nonce_area(JobSlot& slot) {
    const size_t n = slot.fixed_nonce_bytes;
    slot.new_job = 0;
    if (slot.commit_record_empty) {
        std::memset(slot.header + 108, 0, 32);
    } else if (slot.commit_header) {
        // The header fields travel in the commitment instead, so the hashed header keeps
        // only the version and the time.
        std::memset(slot.header + 4, 0, 96);
        std::memset(slot.header + 104, 0, 36);
        std::memset(slot.solution + 8, 0, 64);
        std::memcpy(slot.commit_record + 96, slot.fixed_nonce, n);
        slot.commit_record[96 + n] = slot.extra_nonce_byte;
        blake2b_default_hash(slot.commit_digest, slot.commit_record, sizeof slot.commit_record);
        if (!all_zero(slot.commit_digest, 32))
            std::memcpy(slot.solution + 92, slot.commit_digest, 32);
    } else {
        // The solution line's nonce tail is the top level and zeros: the hashed header must
        // say the same, whatever the job line put there.
        std::memcpy(slot.header + 108, slot.fixed_nonce, n);
        slot.header[108 + n] = slot.extra_nonce_byte;
        std::memset(slot.header + 109 + n, 0, 31 - n);
    }
    uint8_t* area = slot.solution + 1329;
    std::memcpy(area, slot.fixed_nonce, n);
    area[n] = static_cast<uint8_t>(cpu_id % 255);
    area[n + 1] = static_cast<uint8_t>(slot.extra_nonce_word);
    area[n + 2] = static_cast<uint8_t>(slot.extra_nonce_word >> 8);
    area[n + 3] = slot.extra_nonce_byte;
}

namespace {

// What a candidate needs to become a solution line.
struct CandidateReport {
    JobSlot* slot;
    uint8_t* input;
    uint64_t* candidates;
};

void report_candidate(void* context, uint32_t nonce) {
    const CandidateReport& report = *static_cast<CandidateReport*>(context);
    ++*report.candidates;
    report.input[hash_input_len - 3] = static_cast<uint8_t>(nonce);
    report.input[hash_input_len - 2] = static_cast<uint8_t>(nonce >> 8);
    report.input[hash_input_len - 1] = static_cast<uint8_t>(nonce >> 16);
    print_solution_line(*report.slot, report.input);
}

// The solution line is withheld: the pool would refuse the share and may hold it against
// the worker.
void report_rejected(void* context, uint32_t nonce) {
    const CandidateReport& report = *static_cast<CandidateReport*>(context);
    std::fprintf(stderr, "candidate failed its re-check, not sent: pool %d job %s nonce %u\n",
                 solution_pool_id(*report.slot), report.slot->job_id, nonce & 0xFFFFFF);
}

bool line_arrived(void*) {
    return line_ready.load() != 0;
}

} // namespace

CandidateChecks candidate_checks = {0, 0};

uint32_t search_nonces(uint64_t count, JobSlot& slot, uint64_t& candidates) {
    alignas(32) uint8_t input[hash_input_len];
    build_hash_input(slot, input);

    CZantuHashV2& hasher = *active_hasher;
    hasher.Reset();
    hasher.Write(input, sizeof input);
    PrepareKey(hasher.current);
    if (count == 0) return 0;

    CandidateReport report{&slot, input, &candidates};
    const NonceScanSink sink{report_candidate, line_arrived, &report, report_rejected};
    return scan_nonces_checked(*nonce_path, hasher, static_cast<uint32_t>(slot.nonce_base),
                               count, read_le64(slot.target + 24), sink, candidate_checks);
}
