// One solver process through a long random stream of job lines on all three pools, every
// solution line checked as the controlling program checks it: against the text of the job
// line sent under its pool and job id, never against the solver's own state.
#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "solver/job_layout.h"
#include "tests/support/solver_driver.h"

namespace {

using steady = std::chrono::steady_clock;

// The shapes of job line the stream draws from; the weights give their shares.
struct Shape {
    const char* name;
    int weight;
    int header_len; // -1: 0 to 132 bytes
    int fixed_len;  // -1: 0 to 8 bytes
    enum Kind { job, idle, pause, reuse_id, commit_header, empty_record } kind;
};
const Shape kShapes[] = {
    {"usual 108-byte header, 4 fixed bytes", 4, 108, 4, Shape::job},
    {"fixed nonce of 0 to 8 bytes", 6, 108, -1, Shape::job},
    {"full 140-byte header, its nonce area not zero", 3, 140, 0, Shape::job},
    {"header and fixed nonce of other lengths", 2, -1, -1, Shape::job},
    {"an earlier line's job id, new content", 3, 108, -1, Shape::reuse_id},
    {"all-zero header and fixed nonce: idles the pool", 3, 108, -1, Shape::idle},
    {"pause field 1", 1, 108, 4, Shape::pause},
    {"header commitment", 1, 108, -1, Shape::commit_header},
    {"empty commitment record", 1, 108, -1, Shape::empty_record},
};

struct SentLine {
    std::string text;
    std::string pool;
    std::string job_id;
    bool idles;
};

JobFields draw_job(const Shape& shape, std::mt19937& rng, const std::vector<SentLine>& sent,
                   int log2_limit) {
    const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    JobFields job;
    job.pause = shape.kind == Shape::pause ? "1" : "0";
    job.pool = std::to_string(below(3));
    job.job_id = shape.kind == Shape::reuse_id && !sent.empty()
                     ? sent[static_cast<size_t>(below(static_cast<int>(sent.size())))].job_id
                     : "j" + std::to_string(sent.size());
    job.target = target_below((uint64_t{1} << log2_limit) + rng());
    const size_t k = shape.header_len < 0 ? static_cast<size_t>(below(133)) : shape.header_len;
    const size_t n = shape.fixed_len < 0 ? static_cast<size_t>(below(9)) : shape.fixed_len;
    job.header = pattern_bytes(k, rng());
    job.fixed_nonce = pattern_bytes(n, rng());
    job.solution = pattern_bytes(kSolutionBytes, rng());
    job.solution[0] = 6; // below 7: no commitment
    if (shape.kind == Shape::idle) {
        std::fill(job.header.begin(), job.header.end(), 0);
        std::fill(job.fixed_nonce.begin(), job.fixed_nonce.end(), 0);
    }
    if (shape.kind == Shape::commit_header) set_commit_mode(job, CommitMode::commit_header);
    if (shape.kind == Shape::empty_record) set_commit_mode(job, CommitMode::record_empty);
    return job;
}

struct SequenceRun {
    const char* name;
    std::vector<std::string> emulator;
    int lines;
    int log2_limit; // about one candidate in 2^(64 - log2_limit) nonces
    uint32_t seed;
    const char* path = nullptr; // the nonce path that -v must name; none: -v is not given
};

// The stream is sent line by line with a pause of its own after each. A solution line fails
// when no line sent under its pool and job id verifies it, or when the line it verifies
// against had already been replaced on its pool by a line that the solver provably handled
// (an earlier solution line came from that line or a later one); after a pause line, once a
// status line shows a pass without batches, no solution line may come until the next line.
void run_sequence(const SequenceRun& run) {
    std::mt19937 rng(run.seed);
    int total_weight = 0;
    for (const Shape& s : kShapes)
        total_weight += s.weight;

    std::vector<std::string> args = {"--cpu", "7"};
    if (run.path) args.push_back("-v");
    ChildProcess child(solver_command(args, run.emulator));
    ASSERT_EQ(child.next_line(milliseconds(60000)), "ORVANTIS ready");
    std::vector<SentLine> sent;
    std::vector<std::string> faults;
    size_t handled = 0; // lines before this index are known to be handled
    size_t verified = 0, idles_handled = 0;
    bool pause_sent = false, paused_seen = false;

    const auto take = [&](const std::string& line) {
        if (const auto status = parse_status_line(line)) {
            paused_seen |= pause_sent && status->batches == 0;
            return;
        }
        const auto sol = parse_solution_line(line);
        if (!sol) return faults.push_back("stray line " + line.substr(0, 60));
        const std::string at = "job " + sol->job_id + " nonce " + std::to_string(sol->nonce);
        if (paused_seen) return faults.push_back(at + ": a solution line while paused");
        std::vector<size_t> matches; // newest first
        std::string why = "no line was sent under its pool and job id";
        for (size_t s = sent.size(); s-- > 0;) {
            if (sent[s].pool != sol->pool || sent[s].job_id != sol->job_id) continue;
            const std::string fault = controller_fault(sent[s].text, *sol);
            if (fault.empty())
                matches.push_back(s);
            else
                why = fault;
        }
        if (matches.empty()) return faults.push_back(at + ": " + why);
        for (size_t s = matches.front() + 1; s < handled; ++s)
            if (sent[s].pool == sol->pool)
                return faults.push_back(at + ": its job had been replaced by line " +
                                        std::to_string(s));
        handled = std::max(handled, matches.back() + 1);
        ++verified;
    };
    const auto read_until = [&](steady::time_point deadline, bool until_paused) {
        while (steady::now() < deadline && !(until_paused && paused_seen)) {
            if (const auto line = child.next_line(time_left(deadline))) take(*line);
        }
    };

    for (int i = 0; i < run.lines; ++i) {
        int pick = static_cast<int>(rng() % static_cast<unsigned>(total_weight));
        const Shape* shape = kShapes;
        while (pick >= shape->weight)
            pick -= (shape++)->weight;
        const JobFields job = draw_job(*shape, rng, sent, run.log2_limit);
        const auto zero = [](const Bytes& b) {
            return std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == 0; });
        };
        sent.push_back(
            {job.line(), job.pool, job.job_id, zero(job.header) && zero(job.fixed_nonce)});
        pause_sent = shape->kind == Shape::pause;
        paused_seen = false;
        ASSERT_TRUE(child.write_input(sent.back().text + "\n")) << "line " << i;
        if (pause_sent) {
            read_until(steady::now() + std::chrono::seconds(10), true);
            EXPECT_TRUE(paused_seen) << "line " << i << ": no pass without batches after a pause";
        }
        read_until(steady::now() + milliseconds(40 + rng() % 300), false);
    }
    for (size_t s = 0; s < handled; ++s)
        idles_handled += sent[s].idles;
    ASSERT_TRUE(child.write_input("quit\n"));
    EXPECT_EQ(child.wait_exit(milliseconds(60000)), 0);
    while (const auto line = child.next_line(milliseconds(0)))
        take(*line);
    // A run on the wrong path would prove nothing of the path it is named for.
    const std::string chosen = run.path ? std::string("hashing: fast forms, nonce path ") +
                                              run.path + ", batch 2097152 nonces, working set "
                                        : "";
    EXPECT_EQ(child.stderr_text().substr(0, chosen.size()), chosen);
    EXPECT_EQ(std::count(child.stderr_text().begin(), child.stderr_text().end(), '\n'),
              run.path ? 1 : 0)
        << child.stderr_text();
    EXPECT_TRUE(faults.empty()) << faults.size() << " of " << faults.size() + verified
                                << " solution lines fail, first: " << faults.front();
    EXPECT_GE(verified, static_cast<size_t>(run.lines / 2)) << "too few solution lines to judge";
    EXPECT_GT(idles_handled, 0u) << "no idling line was seen handled";
    std::printf("%s: %d job lines, %zu solution lines verified, %zu idling lines handled\n",
                run.name, run.lines, verified, idles_handled);
}

TEST(JobSequence, EverySolutionLineVerifiesFromItsJobLineAlone) {
    run_sequence({"this processor's path", {}, 90, 51, 2026});
}

// The other x86 paths on emulated processors (models less the features the emulator cannot
// give, which it would warn about): the 128-bit in-flight form where there is no AVX2 (Sandy
// Bridge) or no VAES (Haswell), and the two lanes where the system saves no AVX state. (The
// portable forms under emulation are rows of the Solutions table.)
TEST(JobSequence, OtherPathsUnderEmulationToo) {
    std::string qemu;
    if (const std::string why = emulation_unavailable(qemu); !why.empty()) GTEST_SKIP() << why;
    const SequenceRun runs[] = {
        {"in flight, 128-bit, Sandy Bridge",
         {qemu, "-cpu", "SandyBridge,-x2apic,-tsc-deadline"},
         24,
         56,
         907,
         "in flight (128-bit)"},
        {"in flight, 128-bit, Haswell",
         {qemu, "-cpu", "Haswell,-pcid,-x2apic,-tsc-deadline,-hle,-invpcid,-rtm"},
         24,
         56,
         908,
         "in flight (128-bit)"},
        {"two lanes",
         {qemu, "-cpu", "SandyBridge,-x2apic,-tsc-deadline,-xsave"},
         24,
         56,
         909,
         "two lanes"},
    };
    for (const SequenceRun& run : runs) {
        SCOPED_TRACE(run.name);
        run_sequence(run);
    }
}

} // namespace
