#include <dirent.h>
#include <thread>

#include <gtest/gtest.h>

#include "tests/solver/solver_driver.h"

namespace {

using steady = std::chrono::steady_clock;
const milliseconds kWait(20000);

// Hashing-only work: the target admits no candidate.
JobFields busy_job(const std::string& pool, uint32_t seed) {
    JobFields job;
    job.pool = pool;
    job.target = target_below(0);
    job.job_id = "busy-" + std::to_string(seed);
    job.header = pattern_bytes(108, seed);
    return job;
}

JobFields easy_job(const std::string& pool, const std::string& job_id) {
    JobFields job;
    job.pool = pool;
    job.target = target_below(uint64_t{1} << 54);
    job.job_id = job_id;
    return job;
}

// Each line must stop the running batch at once; a batch runs for over a second, so a
// solver that let lines wait would need many minutes for this burst.
TEST(Robustness, BurstOfJobLinesIsHandledWithoutWaitingForBatches) {
    std::string burst;
    for (uint32_t i = 0; i < 1000; ++i)
        burst += busy_job(std::to_string(i % 3), i + 100).line() + "\n";
    // The last jobs fill every slot, so whichever slot comes next answers at once.
    for (const std::string pool : {"0", "1", "2"})
        burst += easy_job(pool, "last").line() + "\n";
    ChildProcess child(solver_command({}));
    ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready");
    const auto start = steady::now();
    ASSERT_TRUE(child.write_input(burst, milliseconds(60000)));
    const auto sol = next_solution(child, milliseconds(60000));
    const auto took = std::chrono::duration_cast<milliseconds>(steady::now() - start);
    ASSERT_TRUE(sol);
    EXPECT_EQ(sol->job_id, "last");
    EXPECT_LT(took.count(), 30000) << "the burst took " << took.count() << " ms";
    child.write_input("quit\n");
    EXPECT_EQ(child.wait_exit(kWait), 0);
}

size_t solution_lines(const ChildProcess& child) {
    size_t count = 0;
    for (size_t at = child.stdout_text().find("sol: "); at != std::string::npos;
         at = child.stdout_text().find("sol: ", at + 1))
        ++count;
    return count;
}

std::vector<long> thread_ids(pid_t pid) {
    std::vector<long> ids;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (!dir) return ids;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ids.push_back(std::atol(entry->d_name));
    closedir(dir);
    return ids;
}

double hashes_per_ms(const StatusFields& s) {
    return 1000.0 * s.khashes / s.ms;
}

TEST(Robustness, HashingGoesOnAtFullSpeedAfterEndOfInput) {
    ChildProcess child(solver_command({}));
    JobFields job = easy_job("1", "after-end");
    job.target = target_below(uint64_t{1} << 52);
    child.write_input(job.line() + "\n");
    const auto before = next_status(child, kWait);
    ASSERT_TRUE(before);
    ASSERT_GT(before->khashes, 0u);
    child.close_input();
    const size_t sols_at_end = solution_lines(child);
    for (int i = 0; i < 2; ++i) {
        const auto after = next_status(child, kWait);
        ASSERT_TRUE(after);
        EXPECT_GT(hashes_per_ms(*after), 0.3 * hashes_per_ms(*before))
            << after->khashes << " k in " << after->ms << " ms after the end, " << before->khashes
            << " k in " << before->ms << " ms before";
        EXPECT_GT(after->candidates, before->candidates);
    }
    EXPECT_GT(solution_lines(child), sols_at_end) << "solution lines keep coming";
    // No read is armed any more: the main thread is the only one left.
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(thread_ids(child.pid()), std::vector<long>{child.pid()});
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(child.wait_exit(milliseconds(0)), -1) << "end of input does not end the solver";
}

TEST(Robustness, EndlessLineNeitherExhaustsMemoryNorDisturbsTheNextLine) {
    ChildProcess child(solver_command({}));
    ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready");
    const long peak_before = peak_memory_kib(child.pid());
    ASSERT_GT(peak_before, 0);
    // Everything behind the solution field is ignored, so the first 64 KiB still hold a
    // good job line.
    const std::string long_line = easy_job("2", "long").line() + " " + std::string(10 << 20, 'z');
    ASSERT_TRUE(child.write_input(long_line + "\n" + easy_job("1", "after").line() + "\n",
                                  milliseconds(60000)));
    bool long_seen = false, after_seen = false;
    while (!(long_seen && after_seen)) {
        const auto sol = next_solution(child, kWait);
        ASSERT_TRUE(sol);
        long_seen |= sol->job_id == "long" && sol->pool == "2";
        after_seen |= sol->job_id == "after" && sol->pool == "1";
    }
    const long growth = peak_memory_kib(child.pid()) - peak_before;
    EXPECT_LT(growth, 4096) << "peak memory grew by " << growth << " KiB";
    child.write_input("quit\n");
    EXPECT_EQ(child.wait_exit(kWait), 0);
}

TEST(Robustness, PoolIdTextWithoutNumberPrintsTheSlotIndex) {
    const struct {
        std::string pool;
        std::string printed;
    } cases[] = {{"", "0"}, {"\x01", "1"}, {"\x02", "2"}};
    for (const auto& c : cases) {
        ChildProcess child(solver_command({}));
        const JobFields job = easy_job(c.pool, "odd-pool");
        child.write_input(job.line() + "\n");
        for (int i = 0; i < 3; ++i) {
            const auto sol = next_solution(child, kWait);
            ASSERT_TRUE(sol) << "pool byte " << int(c.printed[0]);
            EXPECT_EQ(sol->pool, c.printed);
        }
        if (c.pool == "\x01") {
            const auto status = next_status(child, kWait);
            ASSERT_TRUE(status);
            EXPECT_EQ(status->candidates, 0u) << "a slot without a pool number is not counted";
        }
        child.write_input("quit\n");
        EXPECT_EQ(child.wait_exit(kWait), 0) << "pool byte " << int(c.printed[0]);
    }
}

} // namespace
