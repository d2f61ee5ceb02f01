// What the stress tests share: a record of the jobs sent, the full check of a solution
// line against its job, and a reader that sorts the solver's output as it arrives.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/solver_driver.h"

// JobBook remembers every job a test sent, by job id.
class JobBook {
  public:
    // add records |job|; job ids must be unique within one book.
    void add(const JobFields& job);
    // find returns the job sent under |job_id|, or null.
    const JobFields* find(const std::string& job_id) const;

  private:
    std::map<std::string, JobFields> jobs_;
};

// plain_job returns a job for |pool| with its own header (from |seed|), a 108-byte header,
// four fixed nonce bytes and a target that lets about one nonce in 2^(64 - |log2_limit|)
// through; its solution keeps it out of the commitment modes.
JobFields plain_job(const std::string& pool, const std::string& job_id, uint32_t seed,
                    int log2_limit);

// solution_fault returns why |sol| is not a candidate of |job| for a solver whose cpu byte
// is |cpu_byte|, or an empty text when every field and the digest check out.
std::string solution_fault(const SolutionFields& sol, const JobFields& job, uint8_t cpu_byte);

// Everything the solver wrote, sorted as it arrived.
struct OutputLog {
    std::vector<SolutionFields> solutions;
    std::vector<StatusFields> statuses;
    // Pool 1 and 2 solution lines seen before each status line, to match its candidates.
    std::vector<uint64_t> counted_before_status;
    std::vector<std::string> stray; // lines that are neither
    uint64_t counted_solutions = 0;

    // take sorts one line of output.
    void take(const std::string& line);
    // drain takes every line that arrives within |limit|.
    void drain(ChildProcess& child, milliseconds limit);
};

// verify_all checks every solution of |log| against |book|; returns the faults found.
std::vector<std::string> verify_all(const OutputLog& log, const JobBook& book, uint8_t cpu_byte);
