#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <csignal>
#include <sys/wait.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "crypto/selection.h"
#include "tests/support/solver_driver.h"

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
    if (kBatchTakesMinutes) GTEST_SKIP() << "a status line waits for a whole batch";
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

// A controlling program that ignored SIGPIPE (the solver inherits that) and then died leaves
// the solver writing into a pipe nobody reads: it must end at the first line it cannot
// deliver, whether a solution line or an idle solver's status line.
TEST(Robustness, EndsSoonWhenNobodyReadsItsOutput) {
    const struct {
        const char* name;
        bool hashing;
    } cases[] = {{"hashing", true}, {"idle", false}};
    for (const auto& c : cases) {
        ChildProcess child(solver_command({}));
        ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready") << c.name;
        if (c.hashing) {
            child.write_input(easy_job("1", "orphan").line() + "\n");
            ASSERT_TRUE(next_solution(child, kWait)) << c.name;
        }
        const auto start = steady::now();
        child.close_output();
        child.close_input();
        EXPECT_EQ(child.wait_exit(milliseconds(10000)), 1) << c.name;
        EXPECT_LT(steady::now() - start, std::chrono::seconds(4)) << c.name;
        EXPECT_EQ(child.stderr_text().compare(0, 32, "cannot write to standard output "), 0)
            << c.name << ": " << child.stderr_text();
        EXPECT_EQ(std::count(child.stderr_text().begin(), child.stderr_text().end(), '\n'), 1)
            << c.name;
    }
}

// The process limit binds only on a user without privileges, and it counts every process
// and thread of that user. So root runs a copy of the solver (readable by anyone) as nobody,
// under a limit of its own, and can fill that user's count with sleeping processes.
constexpr uid_t kNobody = 65534;

struct LimitedSolver {
    std::vector<std::string> argv; // empty when it cannot be arranged here
    std::string copy_dir;
    std::vector<pid_t> fillers;

    explicit LimitedSolver(int limit) {
#ifdef ZANTU_SOLVER_RUNNER
        // An emulator's own threads would count against the limit as well.
        (void)limit;
        return;
#endif
        const std::string setpriv = find_in_path("setpriv"), prlimit = find_in_path("prlimit");
        const std::string nproc = "--nproc=" + std::to_string(limit) + ":";
        if (prlimit.empty()) return;
        if (geteuid() != 0) {
            argv = {prlimit, nproc, ZANTU_SOLVER_PATH};
            return;
        }
        char dir[] = "/tmp/zantu-limited-XXXXXX";
        if (setpriv.empty() || !mkdtemp(dir)) return;
        copy_dir = dir;
        const std::string binary = copy_dir + "/zantu-solver";
        std::ifstream from(ZANTU_SOLVER_PATH, std::ios::binary);
        std::ofstream(binary, std::ios::binary) << from.rdbuf();
        if (chmod(dir, 0755) == 0 && chmod(binary.c_str(), 0755) == 0)
            argv = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups",
                    prlimit, nproc,           binary};
    }
    ~LimitedSolver() {
        release();
        if (copy_dir.empty()) return;
        unlink((copy_dir + "/zantu-solver").c_str());
        rmdir(copy_dir.c_str());
    }

    // fill brings nobody's count of processes and threads past |limit|, so that the solver
    // can start no thread; root only.
    void fill(int limit) {
        int count = 0;
        DIR* proc = opendir("/proc");
        while (const dirent* e = proc ? readdir(proc) : nullptr) {
            struct stat st {};
            const std::string dir = std::string("/proc/") + e->d_name;
            if (e->d_name[0] >= '0' && e->d_name[0] <= '9' && stat(dir.c_str(), &st) == 0 &&
                st.st_uid == kNobody)
                count += static_cast<int>(thread_ids(std::atoi(e->d_name)).size());
        }
        if (proc) closedir(proc);
        // A filler counts against nobody's limit only once it has become nobody, which it
        // says on |ready|: the test must not go on before all of them have.
        int ready[2];
        if (pipe(ready) != 0) return;
        for (int i = count; i < limit + 2; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                close(ready[0]);
                if (setgid(kNobody) == 0 && setuid(kNobody) == 0) {
                    const char one = 1;
                    if (write(ready[1], &one, 1) == 1) pause();
                }
                _exit(1);
            }
            if (pid > 0) fillers.push_back(pid);
        }
        close(ready[1]);
        size_t became = 0;
        char buf[64];
        while (became < fillers.size()) {
            pollfd p{ready[0], POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) break;
            const ssize_t n = read(ready[0], buf, sizeof buf);
            if (n <= 0) break;
            became += static_cast<size_t>(n);
        }
        close(ready[0]);
    }
    // release ends the fillers.
    void release() {
        for (const pid_t pid : fillers) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        fillers.clear();
    }
};

// While no reader thread can be started the solver hashes on with what it has; once one can,
// it takes up its input where it stopped: no line lost, none read twice.
TEST(Robustness, ReaderThreadThatCannotStartIsTriedAgain) {
    constexpr int kLimit = 64;
    LimitedSolver solver(kLimit);
    if (solver.argv.empty() || geteuid() != 0) GTEST_SKIP() << "needs root to fill a user's limit";
    ChildProcess child(solver.argv);
    ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready");
    child.write_input(easy_job("1", "before").line() + "\n");
    ASSERT_TRUE(next_solution(child, kWait));
    solver.fill(kLimit);

    // The read already in flight takes the first line; the next read cannot be started.
    child.write_input(easy_job("2", "during").line() + "\n" + easy_job("1", "waiting").line() +
                      "\n");
    std::map<std::string, int> seen;
    const auto count_for = [&](milliseconds span) {
        const auto end = steady::now() + span;
        while (const auto sol = next_solution(child, time_left(end)))
            ++seen[sol->job_id];
    };
    count_for(milliseconds(3000));
    EXPECT_GT(seen["during"], 0) << "the line read before the failure is hashed";
    EXPECT_GT(seen["before"] + seen["during"], 10) << "hashing goes on";
    EXPECT_EQ(seen["waiting"], 0) << "no read can be in flight";

    // Nothing stops the batch under way, so the waiting line is read when it ends; from then
    // on pool 1 hashes that line's job only. The other jobs' solutions keep coming, so only one
    // deadline for the whole wait makes a retry that never comes fail here.
    solver.release();
    const auto deadline = steady::now() + milliseconds(60000);
    std::optional<SolutionFields> sol;
    do
        sol = next_solution(child, time_left(deadline));
    while (sol && sol->job_id != "waiting");
    ASSERT_TRUE(sol) << "the line waiting in the pipe is read once a thread starts";
    seen.clear();
    count_for(milliseconds(1000));
    EXPECT_EQ(seen["before"], 0) << "pool 1's job was replaced";
    child.write_input("quit\n");
    EXPECT_EQ(child.wait_exit(kWait), 0);
    EXPECT_EQ(child.stderr_text(), "");
}

// A solver that can never read its input says so and ends, without a ready line.
TEST(Robustness, StartUpWithoutReaderThreadEndsWithStatusOne) {
#ifdef ZANTU_SANITIZED_BUILD
    GTEST_SKIP() << "the sanitizer runtimes need threads of their own";
#endif
    const LimitedSolver solver(1);
    if (solver.argv.empty()) GTEST_SKIP() << "no binding limit here";
    ChildProcess child(solver.argv);
    EXPECT_EQ(child.wait_exit(milliseconds(30000)), 1);
    EXPECT_EQ(child.stdout_text(), "");
    EXPECT_EQ(child.stderr_text().compare(0, 37, "cannot start the input reader thread:"), 0)
        << child.stderr_text();
}

// A wrong hash form must never reach a pool: the start-up self-test replaces wrong fast
// forms with the portable ones, whose shares are then right, and refuses to run at all when
// the portable forms are wrong.
TEST(Robustness, SelfTestReplacesOrRefusesAWrongForm) {
    const struct {
        std::string wrong;
        bool runs;
        std::string err;
    } cases[] = {
        {"fast", true,
         "self-test: the fast hash forms give wrong digests on this processor; using the "
         "portable forms\n"},
        {"portable", false,
         "self-test: the portable hash forms give wrong digests on this machine; no correct "
         "form is left\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wrong);
        if (c.wrong == "fast" && probe_fast_hash_support() != 1) continue;
        ChildProcess child(program_command(ZANTU_WRONG_FORMS_SOLVER_PATH, {c.wrong}));
        if (!c.runs) {
            EXPECT_EQ(child.wait_exit(kWait), 1);
            EXPECT_EQ(child.stdout_text(), "");
            EXPECT_EQ(child.stderr_text(), c.err);
            continue;
        }
        ASSERT_EQ(child.next_line(kWait), "ORVANTIS ready");
        const JobFields job = easy_job("1", "checked");
        child.write_input(job.line() + "\n");
        for (int i = 0; i < 10; ++i) {
            const auto sol = next_solution(child, kWait);
            ASSERT_TRUE(sol);
            EXPECT_EQ(controller_fault(job.line(), *sol), "") << "nonce " << sol->nonce;
        }
        // The fallback takes the portable forms' batch size too. With nothing else written, the
        // next status line counts whole portable batches, one to three by the machine's speed
        // (524, 1048 or 1572 kilohashes); a fast-size batch would show as 2097.
        const auto status = next_status(child, kWait);
        ASSERT_TRUE(status) << "no status line after the fallback";
        bool whole = false;
        for (uint64_t n = 1; n <= 3; ++n)
            whole |= status->khashes == n * batch_size_for(0) / 1000;
        EXPECT_TRUE(whole) << status->khashes << " kilohashes in " << status->ms << " ms";
        child.write_input("quit\n");
        EXPECT_EQ(child.wait_exit(kWait), 0);
        EXPECT_EQ(child.stderr_text(), c.err);
    }
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
        if (c.pool == "\x01" && !kBatchTakesMinutes) {
            const auto status = next_status(child, kWait);
            ASSERT_TRUE(status);
            EXPECT_EQ(status->candidates, 0u) << "a slot without a pool number is not counted";
        }
        child.write_input("quit\n");
        EXPECT_EQ(child.wait_exit(kWait), 0) << "pool byte " << int(c.printed[0]);
    }
}

} // namespace
