// The main loop: collects input lines from a reader thread without blocking, visits the
// job slots in turn and runs one nonce batch per active slot, and reports status.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

struct JobSlot;

// kHashVersion: the hasher version the solver runs (ZantuHash v2.2's mixing).
constexpr int kHashVersion = 4;

// line_ready: set by the reader once a line is published; a running batch stops on it.
extern std::atomic<uint8_t> line_ready;

// kMaxLineBytes: the reader keeps at most this many bytes of a line and drops the rest.
constexpr size_t kMaxLineBytes = 64 * 1024;

// InputLine: one line read from standard input, and whether input ended with it.
struct InputLine {
    std::string text;
    bool end_of_input;
};

// read_input_line reads up to the next newline (consumed, not kept) or end of input,
// keeping the first kMaxLineBytes bytes; end_of_input tells that no further line can come.
InputLine read_input_line(FILE* in);

// start_batch moves the slot's nonce position on (rolling the upper levels over and
// preparing the nonce area when needed) and returns how many nonces the batch may hash.
uint64_t start_batch(JobSlot& slot, uint64_t batch_size);

// solver_loop finishes start-up (slots, hasher, selection and self-test, reader, ready line)
// and runs until "quit"; batch_size is the selection's from then on.
void solver_loop();

// start_solver probes the processor for the batch size and runs the main loop until "quit".
void start_solver();

// solver_main is the program: the options (argv[0] is the program's name), then the usage
// text or the solver; returns the exit status.
int solver_main(int argc, char** argv);
