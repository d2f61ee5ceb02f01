// Malformed job lines and the exact message each must produce.
#pragma once

#include <string>
#include <vector>

// MalformedLine: a bad job line and the exact text it must put on standard error.
struct MalformedLine {
    std::string name;
    std::string line;
    std::string message;
};

// malformed_lines returns one case per structural check and per kind of bad hex digit.
std::vector<MalformedLine> malformed_lines();
