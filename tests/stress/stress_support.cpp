#include "tests/stress/stress_support.h"

#include <chrono>
#include <stdexcept>

#include "solver/job_layout.h"

void JobBook::add(const JobFields& job) {
    if (!jobs_.emplace(job.job_id, job).second)
        throw std::logic_error("job id used twice: " + job.job_id);
}

const JobFields* JobBook::find(const std::string& job_id) const {
    const auto it = jobs_.find(job_id);
    return it == jobs_.end() ? nullptr : &it->second;
}

JobFields plain_job(const std::string& pool, const std::string& job_id, uint32_t seed,
                    int log2_limit) {
    JobFields job;
    job.pool = pool;
    job.job_id = job_id;
    job.target = target_below(uint64_t{1} << log2_limit);
    job.header = pattern_bytes(108, seed);
    job.header[kHeaderTimeOffset] = static_cast<uint8_t>(seed);
    job.fixed_nonce = pattern_bytes(4, seed + 1);
    return job;
}

std::string solution_fault(const SolutionFields& sol, const JobFields& job, uint8_t cpu_byte) {
    const std::string fault = controller_fault(job.line(), sol);
    if (!fault.empty()) return fault;
    // Beyond what the controlling program checks: the solver's own nonce area.
    const size_t n = job.fixed_nonce.size();
    const Bytes tail = from_hex(sol.nonce_tail);
    for (size_t i = 1; i < tail.size(); ++i)
        if (tail[i] != 0) return "nonce tail not zero behind its first byte";
    const Bytes& s = sol.solution;
    // Behind the fixed nonce: the cpu byte, the extra nonce word, the extra nonce byte.
    const size_t cpu = kSolutionNonceAreaOffset + n, behind = cpu + 4;
    if (!std::equal(s.begin() + kSolutionNonceAreaOffset, s.begin() + cpu, job.fixed_nonce.begin()))
        return "fixed nonce missing from the solution";
    if (s[cpu] != cpu_byte) return "cpu byte " + std::to_string(s[cpu]);
    if (s[cpu + 3] != tail[0]) return "solution and nonce tail disagree on the top nonce level";
    if (!std::equal(s.begin() + behind, s.begin() + kSolutionNonceOffset,
                    job.solution.begin() + behind))
        return "template bytes behind the nonce levels changed";
    return "";
}

void OutputLog::take(const std::string& line) {
    if (line.compare(0, 5, "sol: ") == 0) {
        const auto sol = parse_solution_line(line);
        if (!sol) {
            stray.push_back(line.substr(0, 80));
            return;
        }
        if (sol->pool == "1" || sol->pool == "2") ++counted_solutions;
        solutions.push_back(*sol);
        return;
    }
    if (const auto status = parse_status_line(line)) {
        statuses.push_back(*status);
        counted_before_status.push_back(counted_solutions);
        return;
    }
    stray.push_back(line.substr(0, 80));
}

void OutputLog::drain(ChildProcess& child, milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto line = child.next_line(time_left(deadline));
        if (!line) return;
        take(*line);
    }
}

std::vector<std::string> verify_all(const OutputLog& log, const JobBook& book, uint8_t cpu_byte) {
    std::vector<std::string> faults;
    for (const SolutionFields& sol : log.solutions) {
        const JobFields* job = book.find(sol.job_id);
        const std::string fault =
            job ? solution_fault(sol, *job, cpu_byte) : "no job was sent under this id";
        if (!fault.empty())
            faults.push_back("job " + sol.job_id + " nonce " + std::to_string(sol.nonce) + ": " +
                             fault);
    }
    return faults;
}
