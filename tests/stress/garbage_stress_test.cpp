// Random bytes and binary garbage as job lines: the solver must end cleanly with one of
// its defined messages, or take the line as a job and go on, and never die of a signal.
#include <random>

#include <gtest/gtest.h>

#include "solver/job_slot.h"
#include "solver/solver_loop.h"
#include "tests/support/malformed_lines.h"
#include "tests/stress/stress_support.h"

namespace {

const milliseconds kWait(30000);

struct Garbage {
    std::string name;
    std::string line; // without its newline
};

std::string random_bytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

// mutate overwrites, inserts and deletes a few bytes, or cuts the line short.
std::string mutate(std::mt19937& rng, std::string s) {
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !s.empty(); ++e) {
        const size_t at = rng() % s.size();
        switch (rng() % 4) {
        case 0: s[at] = static_cast<char>(rng()); break;
        case 1: s.insert(at, 1, static_cast<char>(rng())); break;
        case 2: s.erase(at, 1 + rng() % 8); break;
        default: s.resize(at); break;
        }
    }
    return s;
}

std::vector<Garbage> garbage_lines() {
    std::vector<Garbage> cases = {
        {"only_nul_bytes", std::string(40, '\0')},
        {"only_0xff_bytes", std::string(100, '\xff')},
        {"carriage_return", "\r"},
        {"five_spaces", "     "},
        {"six_spaces", "      "},
        {"control_bytes", "\x01\x02\x03\x04\x1b[2J\x7f"},
    };
    std::mt19937 rng(20240611);
    for (int i = 0; i < 50; ++i)
        cases.push_back({"random_" + std::to_string(i), random_bytes(rng, 1 + rng() % 4000)});
    cases.push_back({"random_beyond_the_line_limit", random_bytes(rng, kMaxLineBytes + 5000)});
    const std::string valid = plain_job("1", "valid", 9, 60).line();
    for (int i = 0; i < 60; ++i)
        cases.push_back({"mutant_" + std::to_string(i), mutate(rng, valid)});
    JobFields high = plain_job("2", "\x80\xfe\xff\x01", 10, 60);
    cases.push_back({"high_bytes_in_job_id", high.line()});
    // Newlines would split the garbage into several lines; each case is one line.
    for (Garbage& g : cases)
        for (char& c : g.line)
            if (c == '\n') c = '\x0b';
    return cases;
}

// defined_message_fault returns why |message| is none of the defined messages for |line|.
std::string defined_message_fault(const std::string& message, const std::string& line) {
    for (const JobLineCheck& c : kJobLineChecks)
        if (message == check_message(c.id)) return "";
    const std::string prefix = "Invalid hex char at offset ";
    if (message.compare(0, prefix.size(), prefix) != 0) return "not a defined message";
    size_t used = 0;
    const size_t offset = std::stoul(message.substr(prefix.size()), &used);
    const std::string rest = message.substr(prefix.size() + used);
    const std::string visible = line.substr(0, line.find('\0'));
    if (offset > visible.size()) return "offset past the end of the line";
    const char c = offset < visible.size() ? visible[offset] : '\0';
    if (rest != ": ..." + std::string(1, c) + "...\n") return "names the wrong character";
    if (isxdigit(static_cast<unsigned char>(c))) return "names a hex digit";
    return "";
}

TEST(Stress, GarbageJobLinesEndCleanlyOrAreTaken) {
    static JobSlot slots[pool_count];
    for (const Garbage& g : garbage_lines()) {
        for (JobSlot& s : slots)
            reset_job_slot(s);
        const std::string kept = g.line.substr(0, kMaxLineBytes);
        const JobParseResult expected = parse_job_line_checked(kept.c_str(), slots, pool_count);

        ChildProcess child(solver_command({}));
        ASSERT_TRUE(child.write_input(g.line + "\nquit\n", kWait)) << g.name;
        const int status = child.wait_exit(kWait);
        ASSERT_NE(status, -1) << g.name << ": still running";
        const std::string& out = child.stdout_text();
        EXPECT_EQ(out.compare(0, 15, "ORVANTIS ready\n"), 0) << g.name;
        OutputLog log;
        for (size_t at = 15, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            log.take(out.substr(at, end - at));
        EXPECT_TRUE(log.stray.empty()) << g.name << ": stray output " << log.stray[0];

        // The main loop skips an empty line and ends on "quit" without parsing either.
        if (expected.fault == JobLineFault::none || kept.empty() || kept == "quit") {
            EXPECT_EQ(status, 0) << g.name << ": a job line, then quit";
            EXPECT_EQ(child.stderr_text(), "") << g.name;
            continue;
        }
        EXPECT_EQ(status, 1) << g.name;
        EXPECT_EQ(defined_message_fault(child.stderr_text(), kept), "") << g.name;
        // The line reached the parser byte for byte: the message is the one it gives here.
        EXPECT_EQ(child.stderr_text(), fault_message(expected)) << g.name;
    }
}

} // namespace
