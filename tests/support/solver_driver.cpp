#include "tests/support/solver_driver.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

#include "crypto/base/bytes.h"

namespace {

// The build's runner for what it builds: none natively; in a cross build its emulator, as
// "|"-separated words.
std::vector<std::string> build_runner() {
    std::vector<std::string> words;
#ifdef ZANTU_SOLVER_RUNNER
    const std::string runner = ZANTU_SOLVER_RUNNER;
    for (size_t start = 0;;) {
        const size_t bar = runner.find('|', start);
        words.push_back(runner.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
#endif
    return words;
}

} // namespace

std::vector<std::string> program_command(const std::string& path,
                                         const std::vector<std::string>& args,
                                         const std::vector<std::string>& emulator) {
    std::vector<std::string> argv = emulator.empty() ? build_runner() : emulator;
    argv.push_back(path);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<std::string> solver_command(const std::vector<std::string>& args,
                                        const std::vector<std::string>& emulator) {
    return program_command(ZANTU_SOLVER_PATH, args, emulator);
}

std::string find_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t colon = dirs.find(':', start);
        const std::string candidate = dirs.substr(start, colon - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string::npos) return "";
        start = colon + 1;
    }
}

std::string emulation_unavailable(std::string& qemu) {
#if defined(ZANTU_SANITIZED_BUILD)
    (void)qemu;
    return "sanitizer runtimes do not run under user-mode emulation";
#elif !defined(__x86_64__)
    (void)qemu;
    return "the emulated processor models are x86-64 ones";
#else
    qemu = find_in_path("qemu-x86_64");
    return qemu.empty() ? "qemu-x86_64 is not installed" : "";
#endif
}

namespace {

// split_fields splits |line| at every space.
std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t space = line.find(' ', start);
        fields.push_back(line.substr(start, space - start));
        if (space == std::string::npos) return fields;
        start = space + 1;
    }
}

} // namespace

// Here and in controller_fault the byte positions are the protocol's as the controlling program
// knows them, not solver/job_layout.h's, so that a wrong constant there fails these checks.
std::optional<SolutionFields> parse_solution_line(const std::string& line) {
    const std::vector<std::string> fields = split_fields(line);
    if (fields.size() != 6 || fields[0] != "sol:" || fields[5].size() != 6 + 2688 ||
        fields[5].compare(0, 6, "fd4005") != 0)
        return std::nullopt;
    SolutionFields sol;
    sol.pool = fields[1];
    sol.job_id = fields[2];
    sol.time = fields[3];
    sol.nonce_tail = fields[4];
    sol.solution = from_hex(fields[5].substr(6));
    sol.nonce = sol.solution[1341] | sol.solution[1342] << 8 | sol.solution[1343] << 16;
    return sol;
}

namespace {

bool all_zero(Bytes::const_iterator begin, Bytes::const_iterator end) {
    return std::all_of(begin, end, [](uint8_t b) { return b == 0; });
}

} // namespace

std::string controller_fault(const std::string& job_line, const SolutionFields& sol) {
    const std::vector<std::string> f = split_fields(job_line);
    if (f.size() != 7 || f[2].size() != 64) throw std::logic_error("not a full job line");
    const Bytes target = from_hex(f[2]), field = from_hex(f[4]), fixed = from_hex(f[5]);
    Bytes job_solution = from_hex(f[6]);
    job_solution.resize(1344, 0);
    if (sol.pool != (f[1].empty() ? "0" : f[1])) return "pool " + sol.pool;
    if (sol.job_id != f[3]) return "job id " + sol.job_id;
    if (all_zero(field.begin(), field.end()) && all_zero(fixed.begin(), fixed.end()))
        return "a solution for a job line that idles its pool";
    const Bytes tail = from_hex(sol.nonce_tail);
    if (tail.size() + fixed.size() != 32) return "nonce tail of " + sol.nonce_tail;

    // The job line's header: the header field, the fixed nonce right behind it, zeros.
    Bytes header = field;
    header.insert(header.end(), fixed.begin(), fixed.end());
    header.resize(140, 0);
    const Bytes time = from_hex(sol.time);
    std::copy(time.begin(), time.end(), header.begin() + 100);

    // The nonce area: the fixed nonce and the printed tail. A job whose solution commits to
    // the header fields hashes only the version and time (an empty record: no nonce area).
    enum { plain, empty_record, committed } mode = plain;
    if (job_solution[0] >= 7 && job_solution[5] != 0) {
        const Bytes record = commitment_record(header, job_solution);
        const Bytes line_digest(job_solution.begin() + 92, job_solution.begin() + 124);
        const bool match =
            reference_commit_digest(record) == line_digest ||
            reference_commit_digest(commitment_record(header, job_solution, fixed)) == line_digest;
        mode = all_zero(record.begin(), record.end()) ? empty_record : match ? committed : plain;
        if (mode == committed) {
            // Renewed with the top nonce level behind the fixed nonce; the fields travel in
            // the record, not in the solution.
            Bytes area = fixed;
            area.push_back(tail[0]);
            const Bytes renewed =
                reference_commit_digest(commitment_record(header, job_solution, area));
            std::copy(renewed.begin(), renewed.end(), job_solution.begin() + 92);
            std::fill(job_solution.begin() + 8, job_solution.begin() + 72, 0);
        }
    }
    if (mode == plain) {
        std::copy(fixed.begin(), fixed.end(), header.begin() + 108);
        std::copy(tail.begin(), tail.end(), header.begin() + 108 + fixed.size());
    } else {
        std::fill(header.begin() + 108, header.end(), 0);
    }
    if (mode == committed) {
        std::fill(header.begin() + 4, header.begin() + 100, 0);
        std::fill(header.begin() + 104, header.begin() + 108, 0);
    }
    if (!std::equal(job_solution.begin(), job_solution.begin() + 1329, sol.solution.begin()))
        return "not the job line's solution template";
    const uint64_t word = digest_word(header, sol.solution);
    if (word >= load_le64(target.data() + 24))
        return "digest word " + std::to_string(word) + " is not below the target";
    return "";
}

std::optional<StatusFields> parse_status_line(const std::string& line) {
    StatusFields s;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "status: %d %llu %lu %lld%n", &s.batches, &s.khashes,
                    &s.candidates, &s.ms, &consumed) != 4 ||
        static_cast<size_t>(consumed) != line.size())
        return std::nullopt;
    return s;
}

namespace {

// next_line_starting waits until |limit| for the next line that begins with |prefix|.
std::optional<std::string> next_line_starting(ChildProcess& child, const std::string& prefix,
                                              milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto line = child.next_line(time_left(deadline));
        if (!line || line->compare(0, prefix.size(), prefix) == 0) return line;
    }
}

} // namespace

std::optional<SolutionFields> next_solution(ChildProcess& child, milliseconds limit) {
    const auto line = next_line_starting(child, "sol: ", limit);
    if (!line) return std::nullopt;
    return parse_solution_line(*line);
}

std::optional<StatusFields> next_status(ChildProcess& child, milliseconds limit) {
    const auto line = next_line_starting(child, "status:", limit);
    if (!line) return std::nullopt;
    return parse_status_line(*line);
}
