// How the solver ends, or does not: "quit" in the middle of a long batch, and standard
// input closed in the middle of a line or right after the ready line.
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "crypto/selection.h"
#include "tests/support/malformed_lines.h"
#include "tests/stress/stress_support.h"

namespace {

using steady = std::chrono::steady_clock;
const milliseconds kWait(30000);

// cpu_seconds returns the processor time |pid| has used so far, or -1.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip; // state .. cmajflt
    unsigned long long utime = 0, stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

TEST(Stress, QuitInTheMiddleOfALongBatchEndsPromptly) {
    const uint64_t batch = batch_size_for(probe_fast_hash_support());
    for (int trial = 0; trial < 3; ++trial) {
        ChildProcess child(solver_command({}));
        // Candidates are rare enough that a batch runs long, common enough to show it runs.
        child.write_input(plain_job("1", "long", 77 + trial, 50).line() + "\n");
        const auto status = next_status(child, kWait);
        ASSERT_TRUE(status);
        ASSERT_GT(status->khashes, 0u);
        const double batch_ms =
            static_cast<double>(batch) * status->ms / (1000.0 * status->khashes);
        ASSERT_TRUE(next_solution(child, kWait)) << "a batch is under way";
        const auto sent = steady::now();
        ASSERT_TRUE(child.write_input("quit\n"));
        // A solver that finished its batch first would take a quarter of a batch or more
        // three times out of four.
        const auto limit = milliseconds(std::max<long>(250, static_cast<long>(batch_ms / 4)));
        const int status_code = child.wait_exit(kWait);
        const auto took = std::chrono::duration_cast<milliseconds>(steady::now() - sent);
        EXPECT_EQ(status_code, 0) << "trial " << trial;
        EXPECT_LT(took.count(), limit.count())
            << "trial " << trial << ": quit took " << took.count() << " ms, a batch " << batch_ms
            << " ms";
        EXPECT_EQ(child.stderr_text(), "");
    }
}

// The message for a line that ends inside a hex field: the terminator is the bad digit.
std::string ends_inside_hex(size_t offset) {
    return invalid_hex_message(offset, '\0');
}

TEST(Stress, InputClosedInTheMiddleOfALine) {
    const JobFields job = plain_job("2", "cut", 4242, 54);
    const std::string line = job.line();
    const size_t target_at = 4, job_id_at = target_at + 65, header_at = job_id_at + 4;
    const size_t fixed_at = header_at + 217, solution_at = fixed_at + 9;
    ASSERT_EQ(line.substr(job_id_at, 4), "cut ");
    const struct {
        const char* name;
        size_t cut;
        std::string message; // empty: the line is a job and the solver goes on hashing
    } cases[] = {
        {"inside the pause field", 1, check_message(JobLineCheckId::pause_field)},
        {"before the target", target_at, ends_inside_hex(target_at)},
        {"inside a target pair", target_at + 5, ends_inside_hex(target_at + 5)},
        {"inside the job id", job_id_at + 2, check_message(JobLineCheckId::job_id_end)},
        {"at a header pair", header_at + 10, ends_inside_hex(header_at + 10)},
        {"inside the fixed nonce", fixed_at + 3, ends_inside_hex(fixed_at + 3)},
        {"right after the fixed nonce", solution_at, ""},
        {"inside the solution", solution_at + 1001, ""},
    };
    for (const auto& c : cases) {
        ChildProcess child(solver_command({}));
        ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready") << c.name;
        ASSERT_TRUE(child.write_input(line.substr(0, c.cut))) << c.name;
        child.close_input();
        if (!c.message.empty()) {
            EXPECT_EQ(child.wait_exit(kWait), 1) << c.name;
            EXPECT_EQ(child.stderr_text(), c.message) << c.name;
            continue;
        }
        // The cut line is the job: the solution bytes it did not give are zero.
        JobFields cut = job;
        std::fill(cut.solution.begin() + (c.cut - solution_at) / 2, cut.solution.end(), 0);
        JobBook book;
        book.add(cut);
        OutputLog log;
        while (log.statuses.empty()) {
            const auto got = child.next_line(kWait);
            ASSERT_TRUE(got) << c.name << ": the solver went quiet";
            log.take(*got);
        }
        EXPECT_FALSE(log.solutions.empty()) << c.name;
        const std::vector<std::string> faults = verify_all(log, book, 0);
        EXPECT_TRUE(faults.empty()) << c.name << ": " << faults[0];
        EXPECT_TRUE(log.stray.empty()) << c.name;
        EXPECT_EQ(child.wait_exit(milliseconds(0)), -1) << c.name << ": end of input ended it";
        EXPECT_EQ(child.stderr_text(), "") << c.name;
    }
}

TEST(Stress, InputClosedRightAfterTheReadyLine) {
    ChildProcess child(solver_command({}));
    ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready");
    child.close_input();
    const double cpu_before = cpu_seconds(child.pid());
    const auto start = steady::now();
    for (int i = 0; i < 3; ++i) {
        const auto line = child.next_line(milliseconds(10000));
        ASSERT_TRUE(line) << "no status line " << i << " after the end of input";
        const auto status = parse_status_line(*line);
        ASSERT_TRUE(status) << *line;
        EXPECT_EQ(status->batches, 0);
        EXPECT_EQ(status->khashes, 0u);
        EXPECT_EQ(status->candidates, 0u);
        EXPECT_GE(status->ms, 2000);
        EXPECT_LE(status->ms, 4000);
    }
    const double wall = std::chrono::duration<double>(steady::now() - start).count();
    const double cpu = cpu_seconds(child.pid()) - cpu_before;
    // An idle solver sleeps; one that spun on the ended input would use a whole core.
    EXPECT_LT(cpu, 0.25 * wall) << cpu << " s of processor time in " << wall << " s";
    EXPECT_EQ(child.wait_exit(milliseconds(0)), -1) << "end of input ended the solver";
    EXPECT_EQ(child.stderr_text(), "");
}

} // namespace
