// The solution line written for every candidate nonce, and its hex formatter.
#pragma once

#include <cstdint>

struct JobSlot;

// hex_string formats up to 2047 bytes as lower-case hex into one shared static buffer and
// returns it; each result must be used before the next call.
const char* hex_string(const uint8_t* data, uint32_t count);

// solution_pool_id returns the slot's pool-id text as a number, or the slot's index when
// the text holds no number.
int solution_pool_id(const JobSlot& slot);

// print_solution_line writes the solution line for the 1487-byte hash input |input| of
// |slot| (candidate nonce in its last three bytes) and flushes standard output.
void print_solution_line(const JobSlot& slot, const uint8_t* input);
