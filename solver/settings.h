// Process-wide settings written by start-up before any other thread exists, and the one
// way out for bad input.
#pragma once

#include <cstdint>

class CZantuHashV2;

// cpu_id: the byte of every nonce area that tells solver instances apart (used modulo 255).
extern int32_t cpu_id;

// verbose: set by "-v"; start-up then names its choice of forms and nonce path on standard
// error.
extern int verbose;

// monitor: set by "-m"; accepted for compatibility, nothing reads it.
extern int monitor;

// batch_size: the most nonces one search call hashes for one slot before moving on.
extern uint64_t batch_size;

// active_hasher: the main loop's one hasher, reached by the nonce search.
extern CZantuHashV2* active_hasher;

// exit_with_error prints the formatted text to standard error and exits with status 1
// through the normal exit, so buffered standard output is flushed first.
[[noreturn]] void exit_with_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// flush_protocol_output flushes standard output. A line that cannot be delivered (nobody
// reads any more, or any other write error) ends the process at once with status 1 and one
// line on standard error: a solver nobody hears must not go on hashing.
void flush_protocol_output();
