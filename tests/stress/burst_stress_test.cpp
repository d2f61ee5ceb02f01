// A burst of job lines far faster than the solver hashes: every line must be taken in
// order, the last job of each pool must be the one hashed, and every solution line must
// hold up against the job it names.
#include <gtest/gtest.h>

#include "tests/stress/stress_support.h"

namespace {

const milliseconds kWait(60000);

size_t burst_index(const std::string& job_id) {
    return std::stoul(job_id.substr(6));
}

TEST(Stress, BurstOfTenThousandJobLinesAcrossThePools) {
    constexpr size_t kLines = 10000;
    constexpr int kLog2Limit = 56; // about one candidate in 256 nonces
    const uint8_t cpu_byte = 45;   // --cpu 300
    JobBook book;
    ChildProcess child(solver_command({"--cpu", "300"}));
    ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready");

    // Hashing is under way in every slot before the burst starts.
    std::string start;
    for (const char* pool : {"0", "1", "2"}) {
        const JobFields job = plain_job(pool, std::string("first-") + pool, pool[0], kLog2Limit);
        book.add(job);
        start += job.line() + "\n";
    }
    ASSERT_TRUE(child.write_input(start));
    OutputLog log;
    while (log.solutions.empty()) {
        const auto line = child.next_line(kWait);
        ASSERT_TRUE(line) << "no solution line before the burst";
        log.take(*line);
    }

    std::string burst;
    std::string last_of_pool[3];
    for (size_t i = 0; i < kLines; ++i) {
        const std::string pool = std::to_string(i % 3);
        const JobFields job = plain_job(pool, "burst-" + std::to_string(i),
                                        static_cast<uint32_t>(1000 + i), kLog2Limit);
        book.add(job);
        burst += job.line() + "\n";
        last_of_pool[i % 3] = job.job_id;
    }
    ASSERT_TRUE(child.write_input(burst, milliseconds(180000))) << "the solver stopped reading";

    // Once the burst is in, each pool must come to its last job.
    const size_t before_burst = log.solutions.size();
    int last_seen[3] = {0, 0, 0};
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (last_seen[0] < 3 || last_seen[1] < 3 || last_seen[2] < 3) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline)
            << "the last jobs gave " << last_seen[0] << ", " << last_seen[1] << ", " << last_seen[2]
            << " solutions";
        const auto line = child.next_line(milliseconds(1000));
        if (!line) continue;
        log.take(*line);
        if (log.solutions.size() > before_burst) {
            const SolutionFields& sol = log.solutions.back();
            const int pool = sol.pool[0] - '0';
            if (pool >= 0 && pool < 3 && sol.job_id == last_of_pool[pool]) ++last_seen[pool];
        }
    }
    log.drain(child, milliseconds(2500)); // up to the next status line
    ASSERT_TRUE(child.write_input("quit\n"));
    EXPECT_EQ(child.wait_exit(kWait), 0);
    EXPECT_EQ(child.stderr_text(), "");

    const std::vector<std::string> faults = verify_all(log, book, cpu_byte);
    EXPECT_TRUE(faults.empty()) << faults.size() << " bad solution lines, first: " << faults[0];
    EXPECT_TRUE(log.stray.empty()) << "stray output: " << log.stray[0];

    // Jobs of one pool are taken in the order sent: a pool never goes back to an older job.
    size_t newest[3] = {0, 0, 0};
    bool in_burst[3] = {false, false, false};
    for (const SolutionFields& sol : log.solutions) {
        if (sol.job_id.compare(0, 6, "burst-") != 0) {
            const int pool = sol.pool[0] - '0';
            EXPECT_FALSE(in_burst[pool]) << "pool " << pool << " went back to its first job";
            continue;
        }
        const int pool = sol.pool[0] - '0';
        const size_t index = burst_index(sol.job_id);
        EXPECT_GE(index, newest[pool]) << "pool " << pool << " went back to an older job";
        newest[pool] = std::max(newest[pool], index);
        in_burst[pool] = true;
    }
    // Each status line counts exactly the pool 1 and 2 solution lines written before it.
    for (size_t i = 0; i < log.statuses.size(); ++i)
        EXPECT_EQ(log.statuses[i].candidates, log.counted_before_status[i]) << "status " << i;
}

} // namespace
