#include "solver/nonce_search.h"

#include <cstdio>
#include <cstring>

#include "crypto/base/bytes.h"
#include "crypto/selection.h"
#include "crypto/zantu_hash.h"
#include "solver/job_slot.h"
#include "solver/settings.h"
#include "solver/solution_line.h"

namespace {

bool all_zero(const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (data[i] != 0) return false;
    return true;
}

} // namespace

void build_hash_input(const JobSlot& slot, uint8_t* input) {
    std::memcpy(input, slot.header, kHeaderBytes);
    std::memcpy(input + kHeaderBytes, kSolutionPrefix, sizeof kSolutionPrefix);
    std::memcpy(input + kSolutionOffset, slot.solution, kSolutionBytes);
}

void prepare_nonce_area(JobSlot& slot) {
    const size_t n = slot.fixed_nonce_bytes;
    slot.new_job = 0;
    if (slot.commit_record_empty) {
        std::memset(slot.header + kHeaderNonceOffset, 0, kHeaderNonceBytes);
    } else if (slot.commit_header) {
        // The header fields travel in the commitment instead, so the hashed header keeps
        // only the version and the time.
        std::memset(slot.header + kHeaderFieldsOffset, 0, kHeaderFieldsBytes);
        std::memset(slot.header + kHeaderBitsOffset, 0, kHeaderBytes - kHeaderBitsOffset);
        std::memset(slot.solution + kSolutionCommittedOffset, 0, kSolutionCommittedBytes);
        std::memcpy(slot.commit_record + kRecordNonceOffset, slot.fixed_nonce, n);
        slot.commit_record[kRecordNonceOffset + n] = slot.extra_nonce_byte;
        blake2b_default_hash(slot.commit_digest, slot.commit_record, sizeof slot.commit_record);
        if (!all_zero(slot.commit_digest, kCommitDigestBytes))
            std::memcpy(slot.solution + kCommitDigestOffset, slot.commit_digest,
                        kCommitDigestBytes);
    } else {
        // The solution line's nonce tail is the top level and zeros: the hashed header must
        // say the same, whatever the job line put there.
        uint8_t* nonce = slot.header + kHeaderNonceOffset;
        std::memcpy(nonce, slot.fixed_nonce, n);
        nonce[n] = slot.extra_nonce_byte;
        std::memset(nonce + n + 1, 0, kHeaderNonceBytes - n - 1);
    }
    uint8_t* area = slot.solution + kSolutionNonceAreaOffset;
    std::memcpy(area, slot.fixed_nonce, n);
    area[n] = static_cast<uint8_t>(cpu_id % 255);
    area[n + 1] = static_cast<uint8_t>(slot.extra_nonce_word);
    area[n + 2] = static_cast<uint8_t>(slot.extra_nonce_word >> 8);
    area[n + 3] = slot.extra_nonce_byte;
}

namespace {

// What a candidate needs to become a solution line, and the flag that stops the batch.
struct CandidateReport {
    JobSlot* slot;
    uint8_t* input;
    uint64_t* candidates;
    const std::atomic<uint8_t>* stop;
};

void report_candidate(void* context, uint32_t nonce) {
    const CandidateReport& report = *static_cast<CandidateReport*>(context);
    ++*report.candidates;
    for (size_t i = 0; i < kNonceBytes; ++i)
        report.input[kHashInputBytes - kNonceBytes + i] = static_cast<uint8_t>(nonce >> (8 * i));
    print_solution_line(*report.slot, report.input);
}

// The solution line is withheld: the pool would refuse the share and may hold it against
// the worker.
void report_rejected(void* context, uint32_t nonce) {
    const CandidateReport& report = *static_cast<CandidateReport*>(context);
    std::fprintf(stderr, "candidate failed its re-check, not sent: pool %d job %s nonce %u\n",
                 solution_pool_id(*report.slot), report.slot->job_id, nonce & 0xFFFFFF);
}

bool stop_set(void* context) {
    return static_cast<CandidateReport*>(context)->stop->load() != 0;
}

} // namespace

CandidateChecks candidate_checks = {0, 0};

uint32_t search_nonces(CZantuHashV2& hasher, const std::atomic<uint8_t>& stop, uint64_t count,
                       JobSlot& slot, uint64_t& candidates) {
    alignas(32) uint8_t input[kHashInputBytes];
    build_hash_input(slot, input);

    hasher.Reset();
    hasher.Write(input, sizeof input);
    PrepareKey(hasher.current);
    if (count == 0) return 0;

    CandidateReport report{&slot, input, &candidates, &stop};
    const NonceScanSink sink{report_candidate, stop_set, &report, report_rejected};
    return scan_nonces_checked(*selection.path, hasher, static_cast<uint32_t>(slot.nonce_base),
                               count, load_le64(slot.target + kDigestWordOffset), sink,
                               candidate_checks)
        .done;
}
