// The nonce search on every path against the single-nonce path: the same solution lines in
// the same order, the same counts, the same stop after a waiting line; and a path that
// reports wrong candidates gets none of them printed.
#include <algorithm>

#include <gtest/gtest.h>

#include "crypto/zantu_hash.h"
#include "solver/job_slot.h"
#include "solver/nonce_search.h"
#include "solver/settings.h"
#include "solver/solver_loop.h"
#include "tests/support/dispatch_guard.h"
#include "tests/support/jobs.h"

namespace {

struct BatchRun {
    std::string out, err;
    uint32_t hashed;
    uint64_t candidates;
    CandidateChecks checks; // this batch's
};

// A path as a wrong digest would make it: the installed path reporting every nonce.
const NoncePath* lying_over = nullptr;
uint32_t scan_reporting_all(CZantuHashV2& h, uint32_t base, uint64_t count, uint64_t,
                            const NonceScanSink& sink) {
    return lying_over->scan(h, base, count, ~uint64_t{0}, sink);
}
NoncePath lying_path(const NoncePath& over) {
    lying_over = &over;
    NoncePath path = over;
    path.scan = scan_reporting_all;
    return path;
}

// One batch of |hasher| on |path| with the forms of probe answer |fast|, that path lying if
// asked.
BatchRun search(CZantuHashV2& hasher, JobSlot slot, uint64_t count, int32_t fast,
                const NoncePath& path, bool lying = false) {
    const NoncePath liar = lying_path(path);
    install_selection({&hash_forms_for(fast), lying ? &liar : &path, batch_size_for(fast)});
    BatchRun r{};
    const CandidateChecks before = candidate_checks;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.hashed = search_nonces(hasher, line_ready, count, slot, r.candidates);
    r.err = testing::internal::GetCapturedStderr();
    r.out = testing::internal::GetCapturedStdout();
    r.checks = {candidate_checks.confirmed - before.confirmed,
                candidate_checks.rejected - before.rejected};
    return r;
}

size_t lines_in(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A limit that stands for the batch's largest digest word, which only its own nonce reaches.
constexpr uint64_t kTopWord = 0;

// top_word returns the largest digest word of |count| nonces from nonce_base of |slot|
// (nonce area prepared), each hashed from scratch.
uint64_t top_word(const JobSlot& slot, uint64_t count) {
    const Bytes header(slot.header, slot.header + kHeaderBytes);
    Bytes solution(slot.solution, slot.solution + kSolutionBytes);
    uint64_t top = 0;
    for (uint64_t j = 0; j < count; ++j) {
        const uint64_t nonce = slot.nonce_base + j;
        for (size_t i = 0; i < kNonceBytes; ++i)
            solution[kSolutionNonceOffset + i] = static_cast<uint8_t>(nonce >> (8 * i));
        top = std::max(top, digest_word(header, solution));
    }
    return top;
}

TEST(NonceSearchLanes, SameSolutionLinesOnEveryPath) {
    init_test_hashing();
    if (probe_fast_hash_support() != 1) GTEST_SKIP() << "processor lacks the fast forms";
    const DispatchGuard restore;
    alignas(32) static CZantuHashV2 hasher(4);
    const struct {
        uint64_t limit, nonce_base, count;
        bool line_waiting;
    } rows[] = {{uint64_t{1} << 61, 0, 3001, false},
                {uint64_t{1} << 63, 16777000, 215, false},
                {~uint64_t{0}, 77, 500, true},
                // A word equal to the target is no candidate: catches <= for < on any path.
                {kTopWord, 5000, 200, false}};
    for (const auto& row : rows) {
        JobFields job;
        job.target = target_below(row.limit);
        JobSlot slot = parsed_slot(job);
        prepare_nonce_area(slot);
        slot.nonce_base = row.nonce_base;
        if (row.limit == kTopWord) {
            const Bytes target = target_below(top_word(slot, row.count));
            std::copy(target.begin() + 24, target.end(), slot.target + 24);
        }
        line_ready.store(row.line_waiting ? 1 : 0);
        const BatchRun single = search(hasher, slot, row.count, 0, kFinalizePath);
        EXPECT_EQ(single.hashed, row.line_waiting ? 1u : row.count);
        EXPECT_GT(single.candidates, 0u);
        // Every multi-nonce path that the processor runs.
        const CpuFeatures features = read_cpu_features();
        for (size_t p = 1; p < kNoncePathCount; ++p) {
            const NoncePath& path = *kNoncePaths[p];
            if (path.decision(features) != 1) continue;
            SCOPED_TRACE(path.name);
            const BatchRun fast = search(hasher, slot, row.count, 1, path);
            EXPECT_EQ(fast.hashed, single.hashed);
            EXPECT_EQ(fast.candidates, single.candidates);
            EXPECT_EQ(fast.out, single.out);
            EXPECT_EQ(fast.checks.confirmed, single.candidates);
            EXPECT_EQ(fast.checks.rejected, 0u);
            // The re-check lets only the true candidates through, still in nonce order, and
            // names every refused one on standard error.
            const BatchRun lying = search(hasher, slot, row.count, 1, path, true);
            EXPECT_EQ(lying.out, single.out) << "lying";
            EXPECT_EQ(lying.candidates, single.candidates) << "lying";
            EXPECT_EQ(lying.checks.rejected, lying.hashed - single.candidates) << "lying";
            EXPECT_EQ(lines_in(lying.err), lying.checks.rejected) << "lying";
        }
    }
    line_ready.store(0);
}

} // namespace
