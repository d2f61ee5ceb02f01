#include <gtest/gtest.h>

#include "solver/job_layout.h"
#include "tests/support/solver_driver.h"

namespace {

const milliseconds kWait(20000);
const uint64_t kLimit = uint64_t{1} << 56; // about one candidate in 256 nonces

using Mode = CommitMode;

JobFields job_in_mode(Mode mode, size_t fixed_bytes) {
    JobFields job;
    job.target = target_below(kLimit);
    job.fixed_nonce = pattern_bytes(fixed_bytes, 50);
    set_commit_mode(job, mode);
    return job;
}

// What the solver must hash for |job| in a fresh process: the job's bytes with the nonce
// area filled in, before any nonce.
void expected_input(const JobFields& job, Mode mode, uint8_t cpu_byte, Bytes& header,
                    Bytes& solution) {
    header = job.header;
    header.insert(header.end(), job.fixed_nonce.begin(), job.fixed_nonce.end());
    header.resize(kHeaderBytes, 0);
    solution = job.solution;
    if (mode == Mode::record_empty) {
        std::fill(header.begin() + kHeaderNonceOffset, header.end(), 0);
    } else if (mode == Mode::commit_header) {
        Bytes area = job.fixed_nonce;
        area.push_back(0); // extra_nonce_byte of a fresh slot
        const Bytes digest = reference_commit_digest(commitment_record(header, job.solution, area));
        std::copy(digest.begin(), digest.end(), solution.begin() + kCommitDigestOffset);
        std::fill_n(solution.begin() + kSolutionCommittedOffset, kSolutionCommittedBytes, 0);
        std::fill_n(header.begin() + kHeaderFieldsOffset, kHeaderFieldsBytes, 0);
        std::fill(header.begin() + kHeaderBitsOffset, header.end(), 0);
    }
    Bytes area = job.fixed_nonce;
    area.insert(area.end(), {cpu_byte, 0, 0, 0});
    std::copy(area.begin(), area.end(), solution.begin() + kSolutionNonceAreaOffset);
}

std::vector<SolutionFields> collect(ChildProcess& child, size_t count) {
    std::vector<SolutionFields> sols;
    while (sols.size() < count) {
        auto sol = next_solution(child, kWait);
        if (!sol) break;
        sols.push_back(*sol);
    }
    return sols;
}

// Every row's lines must be the job's candidates in nonce order with every field right, and
// pass the controlling program's own check. The emulated rows run the portable forms (a
// processor without AVX); sanitizer builds and machines without the emulator leave them out.
TEST(Solutions, EveryFieldRightAndNoCandidateMissing) {
    std::string qemu;
    const bool no_emulator = !emulation_unavailable(qemu).empty();
    const struct {
        std::string name;
        Mode mode;
        size_t fixed_bytes;
        std::vector<std::string> args;
        uint8_t cpu_byte;
        bool emulated;
    } cases[] = {
        {"four fixed bytes, cpu 300", Mode::plain, 4, {"--cpu", "300"}, 45, false},
        {"no fixed bytes", Mode::plain, 0, {}, 0, false},
        {"eight fixed bytes", Mode::plain, 8, {"-c", "9"}, 9, false},
        {"empty commitment record", Mode::record_empty, 4, {}, 0, false},
        {"header commitment", Mode::commit_header, 4, {}, 0, false},
        {"header commitment, eight fixed bytes", Mode::commit_header, 8, {}, 0, false},
        {"portable forms, cpu 17", Mode::plain, 4, {"--cpu", "17"}, 17, true},
        {"portable forms, header commitment", Mode::commit_header, 8, {}, 0, true},
    };
    for (const auto& c : cases) {
        if (c.emulated && no_emulator) continue;
        const JobFields job = job_in_mode(c.mode, c.fixed_bytes);
        Bytes header, solution;
        expected_input(job, c.mode, c.cpu_byte, header, solution);
        ChildProcess child(
            solver_command(c.args, c.emulated ? std::vector<std::string>{qemu, "-cpu", "Westmere"}
                                              : std::vector<std::string>{}));
        child.write_input(job.line() + "\n");
        const std::vector<SolutionFields> sols = collect(child, 12);
        child.write_input("quit\n");
        EXPECT_EQ(child.wait_exit(kWait), 0) << c.name;
        ASSERT_EQ(sols.size(), 12u) << c.name;

        std::vector<uint32_t> printed;
        for (const SolutionFields& sol : sols) {
            EXPECT_EQ(sol.pool, "1") << c.name;
            EXPECT_EQ(sol.job_id, job.job_id) << c.name;
            EXPECT_EQ(sol.time, "5f5e4d3c") << c.name;
            EXPECT_EQ(sol.nonce_tail, std::string(2 * (32 - c.fixed_bytes), '0')) << c.name;
            Bytes with_nonce = solution;
            for (size_t i = 0; i < kNonceBytes; ++i)
                with_nonce[kSolutionNonceOffset + i] = static_cast<uint8_t>(sol.nonce >> (8 * i));
            EXPECT_EQ(sol.solution, with_nonce) << c.name << " nonce " << sol.nonce;
            EXPECT_EQ(controller_fault(job.line(), sol), "") << c.name << " nonce " << sol.nonce;
            printed.push_back(sol.nonce);
        }
        EXPECT_EQ(printed, scan_candidates(header, solution, kLimit, 0, printed.back())) << c.name;
    }
}

// The job id never enters the hash, so two jobs that differ only in it share their
// candidates: together they must cover one unbroken run from nonce 0.
TEST(Solutions, SecondJobForThePoolContinuesTheNonces) {
    JobFields first = job_in_mode(Mode::plain, 4);
    first.job_id = "first";
    JobFields second = first;
    second.job_id = "second";
    ChildProcess child(solver_command({}));
    child.write_input(first.line() + "\n");
    std::vector<SolutionFields> sols = collect(child, 5);
    child.write_input(second.line() + "\n");
    std::vector<uint32_t> printed;
    for (const auto& sol : sols)
        printed.push_back(sol.nonce);
    size_t seconds = 0;
    while (seconds < 5) {
        const auto sol = next_solution(child, kWait);
        ASSERT_TRUE(sol);
        printed.push_back(sol->nonce);
        if (sol->job_id == "second")
            ++seconds;
        else
            EXPECT_EQ(seconds, 0u) << "no line of the first job after the second";
    }
    child.write_input("quit\n");
    EXPECT_EQ(child.wait_exit(kWait), 0);
    ASSERT_LT(printed.back(), 4000000u);
    Bytes header, solution;
    expected_input(first, Mode::plain, 0, header, solution);
    EXPECT_EQ(printed, scan_candidates(header, solution, kLimit, 0, printed.back()));
}

TEST(Solutions, PausedSolverHashesNothingUntilResumed) {
    JobFields job = job_in_mode(Mode::plain, 4);
    job.pause = "1";
    ChildProcess child(solver_command({}));
    child.write_input(job.line() + "\n");
    EXPECT_EQ(child.next_line(kWait), "ORVANTIS ready");
    const auto line = child.next_line(milliseconds(10000));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->substr(0, 14), "status: 0 0 0 ") << "no solution and no batch while paused";
    job.pause = "0";
    child.write_input(job.line() + "\n");
    const auto sol = next_solution(child, kWait);
    ASSERT_TRUE(sol);
    child.write_input("quit\n");
    EXPECT_EQ(child.wait_exit(kWait), 0);
}

TEST(Solutions, PoolZeroIsHashedButNotCounted) {
    if (kBatchTakesMinutes) GTEST_SKIP() << "a status line waits for a whole batch";
    JobFields job = job_in_mode(Mode::plain, 4);
    job.pool = "0";
    ChildProcess child(solver_command({}));
    child.write_input(job.line() + "\n");
    const auto sol = next_solution(child, kWait);
    ASSERT_TRUE(sol);
    EXPECT_EQ(sol->pool, "0");
    const auto status = next_status(child, kWait);
    ASSERT_TRUE(status);
    EXPECT_GE(status->batches, 1);
    EXPECT_EQ(status->khashes, 0u);
    EXPECT_EQ(status->candidates, 0u);
    child.write_input("quit\n");
    EXPECT_EQ(child.wait_exit(kWait), 0);
}

} // namespace
