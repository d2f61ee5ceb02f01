// Thirty seconds of job changes every few milliseconds: the solver must keep answering,
// report status at its cadence, and every solution line must belong to the job that was
// current under its job id.
#include <thread>

#include <gtest/gtest.h>

#include "tests/stress/stress_support.h"

namespace {

using steady = std::chrono::steady_clock;

TEST(Stress, JobChangesEveryFewMillisecondsForThirtySeconds) {
#ifdef ZANTU_SANITIZED_BUILD
    GTEST_SKIP() << "run in the plain build only: 30 s of hashing";
#endif
    const auto kRun = std::chrono::seconds(30);
    const milliseconds kEvery(4);
    constexpr int kLog2Limit = 52; // about one candidate in 4096 nonces
    JobBook book;
    OutputLog log;
    std::vector<steady::time_point> status_seen, solution_seen;

    ChildProcess child(solver_command({}));
    ASSERT_EQ(child.next_line(milliseconds(20000)), "ORVANTIS ready");
    const auto start = steady::now();
    uint32_t sent = 0;
    while (steady::now() - start < kRun) {
        const JobFields job = plain_job(std::to_string((sent + 1) % 3),
                                        "chg-" + std::to_string(sent), 50000 + sent, kLog2Limit);
        book.add(job);
        ASSERT_TRUE(child.write_input(job.line() + "\n", milliseconds(10000)))
            << "the solver stopped reading after " << sent << " jobs";
        ++sent;
        const auto next = steady::now() + kEvery;
        for (;;) {
            const auto line = child.next_line(time_left(next));
            if (!line) break;
            const size_t statuses = log.statuses.size(), solutions = log.solutions.size();
            log.take(*line);
            if (log.statuses.size() > statuses) status_seen.push_back(steady::now());
            if (log.solutions.size() > solutions) solution_seen.push_back(steady::now());
        }
    }
    ASSERT_TRUE(child.write_input("quit\n"));
    EXPECT_EQ(child.wait_exit(milliseconds(20000)), 0);
    EXPECT_EQ(child.stderr_text(), "");
    EXPECT_TRUE(log.stray.empty()) << "stray output: " << log.stray[0];

    const std::vector<std::string> faults = verify_all(log, book, 0);
    EXPECT_TRUE(faults.empty()) << faults.size() << " bad solution lines of "
                                << log.solutions.size() << ", first: " << faults[0];

    // Answers come all the way through: no five-second stretch without a solution line.
    ASSERT_FALSE(solution_seen.empty());
    auto previous = start;
    for (const auto& seen : solution_seen) {
        EXPECT_LT(seen - previous, std::chrono::seconds(5)) << "a silent stretch";
        previous = seen;
    }
    EXPECT_LT(start + kRun - solution_seen.back(), std::chrono::seconds(5));

    // Status every two seconds or a little more; each counts the candidates before it.
    EXPECT_GE(log.statuses.size(), 10u);
    previous = start;
    for (size_t i = 0; i < log.statuses.size(); ++i) {
        const StatusFields& s = log.statuses[i];
        EXPECT_GE(s.ms, 2000) << "status " << i;
        EXPECT_LE(s.ms, 3500) << "status " << i;
        EXPECT_GE(s.batches, 0) << "status " << i;
        EXPECT_LE(s.batches, 3) << "status " << i;
        EXPECT_EQ(s.candidates, log.counted_before_status[i]) << "status " << i;
        EXPECT_LT(status_seen[i] - previous, std::chrono::seconds(4)) << "status " << i;
        previous = status_seen[i];
    }
    std::printf("%u job lines, %zu solution lines, %zu status lines\n", sent, log.solutions.size(),
                log.statuses.size());
}

} // namespace
