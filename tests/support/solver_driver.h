// Starting the solver binary and reading its protocol lines, for the end-to-end tests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/jobs.h"

// solver_command returns the argv that runs the solver with |args|, under |emulator| (a
// qemu-style command line) when it is not empty, else as the build runs what it builds (under
// its emulator in a cross build).
std::vector<std::string> solver_command(const std::vector<std::string>& args,
                                        const std::vector<std::string>& emulator = {});

// kBatchTakesMinutes: whether the solver runs under an emulator here, where one batch takes
// over a minute, too long for a test that waits for status lines.
#ifdef ZANTU_EMULATED_TESTS
constexpr bool kBatchTakesMinutes = true;
#else
constexpr bool kBatchTakesMinutes = false;
#endif

// program_command is solver_command for another program of the build at |path|.
std::vector<std::string> program_command(const std::string& path,
                                         const std::vector<std::string>& args,
                                         const std::vector<std::string>& emulator = {});

// find_in_path returns the path of an executable |name| found in PATH, or an empty text.
std::string find_in_path(const std::string& name);

// emulation_unavailable says why the solver cannot run on other x86-64 processor models under
// qemu-x86_64 here (a sanitizer build, another architecture, or no emulator), or returns an
// empty text and sets |qemu| to the emulator's path.
std::string emulation_unavailable(std::string& qemu);

// SolutionFields: one "sol:" line split into its fields.
struct SolutionFields {
    std::string pool;
    std::string job_id;
    std::string time;
    std::string nonce_tail;
    Bytes solution;
    uint32_t nonce;
};

// parse_solution_line splits a solution line; nothing when it is not one.
std::optional<SolutionFields> parse_solution_line(const std::string& line);

// controller_fault checks |sol| as the controlling program does, from the text of the job
// line it sent and the solution line alone: the pool and job id are the line's, the solution
// is the line's template, and the header rebuilt from the line's header and fixed-nonce
// fields, the solution line's time and nonce tail (the header of a committed job keeps only
// its version and time), hashed with the printed solution, is below the line's target.
// Returns why not, or an empty text. The job line needs a full 64-digit target.
std::string controller_fault(const std::string& job_line, const SolutionFields& sol);

// StatusFields: the four values of one "status:" line.
struct StatusFields {
    int batches;
    unsigned long long khashes;
    unsigned long candidates;
    long long ms;
};

// parse_status_line reads a status line; nothing when the line is not exactly one.
std::optional<StatusFields> parse_status_line(const std::string& line);

// next_solution returns the next solution line, skipping status lines.
std::optional<SolutionFields> next_solution(ChildProcess& child, milliseconds limit);

// next_status returns the next status line, skipping solution lines.
std::optional<StatusFields> next_status(ChildProcess& child, milliseconds limit);
