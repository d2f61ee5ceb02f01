// The nonce search on every path against the single-nonce path: the same solution lines in
// the same order, the same counts, the same stop after a waiting line.
#include <gtest/gtest.h>

#include "crypto/zantu_hash.h"
#include "solver/job_slot.h"
#include "solver/nonce_search.h"
#include "solver/settings.h"
#include "solver/solver_loop.h"
#include "tests/solver/test_support.h"

namespace {

struct BatchRun {
    std::string out;
    uint32_t hashed;
    uint64_t candidates;
};

// One batch on the portable forms (which take the Finalize loop) or the fast forms with the
// two-lane or the in-flight path.
BatchRun search(JobSlot slot, uint64_t count, int32_t fast, int32_t flight, int32_t flight512) {
    fast_hash_support = fast;
    install_haraka_forms(fast);
    install_nonce_path(fast, flight, flight512);
    BatchRun r{};
    testing::internal::CaptureStdout();
    r.hashed = search_nonces(count, slot, r.candidates);
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

TEST(NonceSearchLanes, SameSolutionLinesOnEveryPath) {
    init_test_hashing();
    if (probe_fast_hash_support() != 1) GTEST_SKIP() << "processor lacks the fast forms";
    alignas(32) static CZantuHashV2 hasher(4);
    active_hasher = &hasher;
    const struct {
        uint64_t limit, nonce_base, count;
        bool line_waiting;
    } rows[] = {{uint64_t{1} << 61, 0, 3001, false},
                {uint64_t{1} << 63, 16777000, 215, false},
                {~uint64_t{0}, 77, 500, true}};
    for (const auto& row : rows) {
        JobFields job;
        job.target = target_below(row.limit);
        JobSlot slots[pool_count];
        for (JobSlot& s : slots)
            reset_job_slot(s);
        JobSlot slot = *parse_job_line_checked(job.line().c_str(), slots, pool_count).slot;
        prepare_nonce_area(slot);
        slot.nonce_base = row.nonce_base;
        line_ready.store(row.line_waiting ? 1 : 0);
        const BatchRun single = search(slot, row.count, 0, 0, 0);
        EXPECT_EQ(single.hashed, row.line_waiting ? 1u : row.count);
        EXPECT_GT(single.candidates, 0u);
        // Two lanes, in flight, in flight's AVX-512 form: as far as the processor goes.
        const int32_t paths =
            1 + probe_nonce_flight_support() + probe_nonce_flight_avx512_support();
        for (int32_t path = 0; path < paths; ++path) {
            const BatchRun fast = search(slot, row.count, 1, path >= 1, path >= 2);
            EXPECT_EQ(fast.hashed, single.hashed) << "path " << path;
            EXPECT_EQ(fast.candidates, single.candidates) << "path " << path;
            EXPECT_EQ(fast.out, single.out) << "path " << path;
        }
    }
    line_ready.store(0);
    fast_hash_support = probe_fast_hash_support();
    select_haraka_implementations();
}

} // namespace
