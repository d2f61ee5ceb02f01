#include "tests/support/malformed_lines.h"

#include "tests/support/jobs.h"

std::string check_message(JobLineCheckId id) {
    const JobLineCheck& c = job_line_check(id);
    return std::to_string(c.number) + ": " + c.condition + "\n";
}

std::string invalid_hex_message(size_t offset, char c) {
    return "Invalid hex char at offset " + std::to_string(offset) + ": ..." + std::string(1, c) +
           "...\n";
}

std::string fault_message(const JobParseResult& r) {
    if (r.fault == JobLineFault::invalid_hex) return invalid_hex_message(r.offset, r.character);
    return std::to_string(r.check) + ": " + r.condition + "\n";
}

namespace {

using Check = JobLineCheckId;

// The text of |job| up to and including the space before its header field.
std::string up_to_header(const JobFields& job) {
    return job.pause + " " + job.pool + " " + to_hex(job.target) + " " + job.job_id + " ";
}

} // namespace

std::vector<MalformedLine> malformed_lines() {
    JobFields job;
    const std::string hex140 = to_hex(pattern_bytes(140, 3));
    const std::string hex138 = to_hex(pattern_bytes(138, 3));
    const std::string header = to_hex(job.header);
    const std::string before_header = up_to_header(job);
    std::vector<MalformedLine> cases;
    const auto add = [&cases](std::string name, std::string line, std::string message) {
        cases.push_back({std::move(name), std::move(line), std::move(message)});
    };

    JobFields s = job;
    s.pause = "10";
    add("pause_of_two_characters", s.line(), check_message(Check::pause_field));
    add("nul_first_ends_line_at_once", std::string(1, '\0') + job.line(),
        check_message(Check::pause_field));
    add("quit_with_trailing_space", "quit ", check_message(Check::pause_field));
    add("quit_in_capitals", "QUIT", check_message(Check::pause_field));
    add("quit_with_carriage_return", "quit\r", check_message(Check::pause_field));

    s = job;
    s.pool = "12";
    add("pool_id_of_two_characters", s.line(), check_message(Check::pool_field));
    add("line_ends_in_pool_field", "0 ", check_message(Check::pool_field));
    for (const std::string& pool :
         {std::string("3"), std::string("/"), std::string("\x80"), std::string("\xff")}) {
        s = job;
        s.pool = pool;
        add("pool_id_byte_" + std::to_string(static_cast<unsigned char>(pool[0])), s.line(),
            check_message(Check::pool_id));
    }

    s = job;
    s.target = pattern_bytes(33, 5);
    add("target_of_66_digits", s.line(), check_message(Check::target_end));
    add("line_ends_after_full_target", "0 1 " + to_hex(job.target),
        check_message(Check::target_end));
    add("target_of_3_digits", "0 1 abc job " + header, invalid_hex_message(7, ' '));

    s = job;
    s.job_id = std::string(32, 'j');
    add("job_id_of_32_characters", s.line(), check_message(Check::job_id_length));
    s.job_id = std::string(33, 'j');
    add("job_id_of_33_characters", s.line(), check_message(Check::job_id_end));
    const std::string to_job_id = "0 1 " + to_hex(job.target) + " ";
    add("line_ends_in_job_id", to_job_id + "abc", check_message(Check::job_id_end));
    add("line_ends_before_job_id", to_job_id, check_message(Check::job_id_end));
    add("line_ends_after_31_job_id_characters", to_job_id + std::string(31, 'j'),
        check_message(Check::job_id_end));

    add("header_of_282_digits", before_header + hex140 + "ab " + to_hex(job.solution),
        check_message(Check::header_end));
    add("line_ends_after_full_header", before_header + hex140, check_message(Check::header_end));
    add("full_header_then_fixed_nonce", before_header + hex140 + " aa " + to_hex(job.solution),
        check_message(Check::fixed_nonce_end));
    add("fixed_nonce_of_18_digits",
        before_header + header + " " + to_hex(pattern_bytes(9, 1)) + " " + to_hex(job.solution),
        check_message(Check::fixed_nonce_length));
    add("fixed_nonce_overfilling_header",
        before_header + hex138 + " a1b2c3 " + to_hex(job.solution),
        check_message(Check::fixed_nonce_end));

    const std::string empty_job_id = "0 1 " + to_hex(job.target) + "  ";
    add("g_at_offset_70", empty_job_id + "g0" + header.substr(2) + " a1b2c3d4",
        invalid_hex_message(70, 'g'));
    add("line_ends_inside_header_pair", before_header + "0a0",
        invalid_hex_message(before_header.size() + 3, '\0'));
    add("nul_inside_header_ends_line",
        before_header + header.substr(0, 10) + std::string(1, '\0') + header.substr(10) +
            " a1b2c3d4 " + to_hex(job.solution),
        invalid_hex_message(before_header.size() + 10, '\0'));
    add("line_ends_after_header", before_header + header + " ",
        invalid_hex_message(before_header.size() + header.size() + 1, '\0'));
    add("fixed_nonce_of_3_digits", before_header + header + " a1b " + to_hex(job.solution),
        invalid_hex_message(before_header.size() + header.size() + 4, ' '));
    const std::string to_solution = before_header + header + " a1b2c3d4 ";
    add("non_hex_in_solution", to_solution + "0011z2",
        invalid_hex_message(to_solution.size() + 4, 'z'));
    add("non_hex_second_digit_in_solution", to_solution + "00x1",
        invalid_hex_message(to_solution.size() + 2, 'x'));
    return cases;
}
