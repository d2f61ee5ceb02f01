#include "solver/solution_line.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "solver/job_layout.h"
#include "solver/job_slot.h"
#include "solver/settings.h"

namespace {

char hex_buffer[4096];

} // namespace

const char* hex_string(const uint8_t* data, uint32_t count) {
    static const char digits[] = "0123456789abcdef";
    const uint32_t limit = (sizeof hex_buffer - 1) / 2;
    if (count > limit) count = limit;
    for (uint32_t i = 0; i < count; ++i) {
        hex_buffer[2 * i] = digits[data[i] >> 4];
        hex_buffer[2 * i + 1] = digits[data[i] & 15];
    }
    hex_buffer[2 * count] = 0;
    return hex_buffer;
}

int solution_pool_id(const JobSlot& slot) {
    const char* text = slot.pool_id_text;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end != text && errno == 0 && value >= INT_MIN && value <= INT_MAX)
        return static_cast<int>(value);
    // The parser files a job without a number in slot 0 (empty field) or, for a character
    // below '0', in the slot of that character's code.
    return static_cast<uint8_t>(text[0]);
}

void print_solution_line(const JobSlot& slot, const uint8_t* input) {
    std::printf("sol: %d %s ", solution_pool_id(slot), slot.job_id);
    const uint8_t* time = slot.header + kHeaderTimeOffset;
    std::printf("%02x%02x%02x%02x ", time[0], time[1], time[2], time[3]);
    uint8_t tail[32] = {};
    tail[0] = slot.extra_nonce_byte;
    std::printf("%s ", hex_string(tail, static_cast<uint32_t>(32 - slot.fixed_nonce_bytes)));
    std::printf("%s%s\n", "fd4005", hex_string(input + kSolutionOffset, kSolutionBytes));
    flush_protocol_output();
}
