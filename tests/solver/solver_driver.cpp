#include "tests/solver/solver_driver.h"

#include <cinttypes>
#include <cstdio>

std::vector<std::string> solver_command(const std::vector<std::string>& args,
                                        const std::vector<std::string>& emulator) {
    std::vector<std::string> argv = emulator;
    argv.push_back(ZANTU_SOLVER_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::optional<SolutionFields> parse_solution_line(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t space = line.find(' ', start);
        fields.push_back(line.substr(start, space - start));
        if (space == std::string::npos) break;
        start = space + 1;
    }
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
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = child.next_line(left.count() > 0 ? left : milliseconds(0));
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
