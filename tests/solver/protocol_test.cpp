#include <algorithm>

#include <gtest/gtest.h>

#include "solver/job_layout.h"
#include "tests/support/malformed_lines.h"
#include "tests/support/solver_driver.h"

namespace {

const milliseconds kExit(20000);
const std::string kReady = "ORVANTIS ready\n";

const std::string kUsage = "\n"
                           "------------------------------------------------------\n"
                           "Zantu Solver v2.2 + Nebrix\n"
                           "Usage: zantu-solver [options]\n"
                           "------------------------------------------------------\n"
                           "  A standalone cli [ZantuHash v2.2 + Nebrix] solver.\n"
                           "  Send mining jobs to stdin and read candidate submits from stdout\n"
                           "\n"
                           "Options are:\n"
                           "  -h, --help         display this help and exit\n"
                           "  --cpu <id>         use CPU thread <id> in nonce (min 0, max 254)\n"
                           "\n";

TEST(CommandLine, UsageTextAndExit) {
    const std::vector<std::vector<std::string>> cases = {
        {"-h"}, {"--help"}, {"-v", "-h"}, {"--cpu", "5", "--help", "--cpu", "bad"}, {"x", "-h"}};
    for (const auto& args : cases) {
        ChildProcess child(solver_command(args));
        EXPECT_EQ(child.wait_exit(kExit), 0) << args[0];
        EXPECT_EQ(child.stdout_text(), kUsage) << args[0];
        EXPECT_EQ(child.stderr_text(), "") << args[0];
    }
}

TEST(CommandLine, InvalidCpuValueEndsWithStatusOne) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--cpu", "12abc"}, "'12abc' is not a valid number\n"},
        {{"--cpu", ""}, "'' is not a valid number\n"},
        {{"-c", "7 "}, "'7 ' is not a valid number\n"},
        {{"-c", "0x"}, "'0x' is not a valid number\n"},
        {{"--cpu", "x", "-h"}, "'x' is not a valid number\n"},
    };
    for (const auto& c : cases) {
        ChildProcess child(solver_command(c.args));
        EXPECT_EQ(child.wait_exit(kExit), 1) << c.message;
        EXPECT_EQ(child.stderr_text(), c.message);
        EXPECT_EQ(child.stdout_text(), "") << c.message;
    }
}

// The cpu id shows as the byte right behind the fixed nonce in every solution.
TEST(CommandLine, CpuIdReachesTheNonceArea) {
    const struct {
        std::vector<std::string> args;
        int byte;
    } cases[] = {
        {{}, 0},
        {{"--cpu", "0x10"}, 16},
        {{"--cpu", "010"}, 8},
        {{"--cpu", "7"}, 7},
        {{"-c", "3", "--cpu", "5"}, 5},
        {{"--cpu"}, 0},
        {{"--cpu", "4", "-v"}, 4},
        {{"--cpu", "300"}, 45},
        {{"--cpu", "-1"}, 255},
        {{"--cpu", "4294967295"}, 255},
        {{"--CPU", "9"}, 0},
        {{"--cpu=9"}, 0},
        {{"-m", "--verbose", "-c", " 12"}, 12},
    };
    JobFields job;
    job.target = target_below(uint64_t{1} << 56);
    for (const auto& c : cases) {
        const std::string name = c.args.empty() ? "no arguments" : c.args.back();
        ChildProcess child(solver_command(c.args));
        ASSERT_EQ(child.next_line(kExit), "ORVANTIS ready") << name;
        child.write_input(job.line() + "\n");
        const auto sol = next_solution(child, kExit);
        ASSERT_TRUE(sol) << name;
        // The cpu byte follows the fixed nonce.
        EXPECT_EQ(sol->solution[kSolutionNonceAreaOffset + job.fixed_nonce.size()], c.byte) << name;
        child.write_input("quit\n");
        EXPECT_EQ(child.wait_exit(kExit), 0) << name;
        // -v names the hashing choice in one line on standard error; nothing else goes there.
        const bool verbose = std::count(c.args.begin(), c.args.end(), "-v") +
                                 std::count(c.args.begin(), c.args.end(), "--verbose") >
                             0;
        const std::string& err = child.stderr_text();
        if (!verbose) {
            EXPECT_EQ(err, "") << name;
            continue;
        }
        EXPECT_EQ(err.compare(0, 9, "hashing: "), 0) << name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << name << ": " << err;
    }
}

TEST(LineProtocol, QuitMustMatchExactly) {
    {
        ChildProcess child(solver_command({}));
        child.write_input("\n\nquit\n");
        EXPECT_EQ(child.wait_exit(kExit), 0);
        EXPECT_EQ(child.stdout_text(), kReady);
    }
    {
        ChildProcess child(solver_command({}));
        child.write_input("quit");
        child.close_input();
        EXPECT_EQ(child.wait_exit(kExit), 0) << "a last line without newline is a line";
        EXPECT_EQ(child.stdout_text(), kReady);
    }
    // "quit " and its relatives are job lines; see the malformed-line table.
}

TEST(LineProtocol, IdleSolverReportsStatusEveryTwoSeconds) {
    ChildProcess child(solver_command({}));
    ASSERT_EQ(child.next_line(kExit), "ORVANTIS ready");
    for (int i = 0; i < 2; ++i) {
        const auto line = child.next_line(milliseconds(10000));
        ASSERT_TRUE(line);
        const auto status = parse_status_line(*line);
        ASSERT_TRUE(status) << *line;
        EXPECT_EQ(line->substr(0, 14), "status: 0 0 0 ");
        EXPECT_GE(status->ms, 2000);
        EXPECT_LT(status->ms, 6000);
    }
    child.write_input("quit\n");
    EXPECT_EQ(child.wait_exit(kExit), 0);
}

TEST(LineProtocol, MalformedJobLineEndsTheProcessWithItsMessage) {
    for (const MalformedLine& c : malformed_lines()) {
        ChildProcess child(solver_command({}));
        child.write_input(c.line + "\n");
        EXPECT_EQ(child.wait_exit(kExit), 1) << c.name;
        EXPECT_EQ(child.stderr_text(), c.message) << c.name;
        EXPECT_EQ(child.stdout_text(), kReady) << c.name;
    }
}

} // namespace
