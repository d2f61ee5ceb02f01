// The command line: option parsing and the usage text.
#pragma once

#include <cstdint>

// OptionAction: what the command line asks for once its options have taken effect.
enum class OptionAction { start_solver, show_usage };

// print_usage writes the usage text to standard output.
void print_usage();

// parse_number_arg returns the text as a number in automatic base (low 32 bits), or ends
// the process with the invalid-number message.
int32_t parse_number_arg(const char* text);

// parse_options applies the options in order (cpu_id, verbose, monitor) and stops at the
// first help option; a bad number ends the process.
OptionAction parse_options(int argc, char** argv);
