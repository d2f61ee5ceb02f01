// Malformed job lines and the exact message each must produce.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "solver/job_slot.h"

// check_message returns what a job line failing check |id| puts on standard error.
std::string check_message(JobLineCheckId id);

// invalid_hex_message returns what a job line with the bad hex character |c| at |offset| puts
// on standard error.
std::string invalid_hex_message(size_t offset, char c);

// fault_message returns what the faulty parse result |r| puts on standard error.
std::string fault_message(const JobParseResult& r);

// MalformedLine: a bad job line and the exact text it must put on standard error.
struct MalformedLine {
    std::string name;
    std::string line;
    std::string message;
};

// malformed_lines returns one case per structural check and per kind of bad hex digit.
std::vector<MalformedLine> malformed_lines();
