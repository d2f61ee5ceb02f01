// Fuzzes the job-line parser on arbitrary bytes. The input is split at newlines into lines
// that are parsed in turn into one set of slots, as the main loop does, until the first
// fault (which would end the process). Every line lives in a heap block of exactly its
// length plus the terminator, so AddressSanitizer catches any read past the line's end.
//
// Properties checked besides memory safety:
//  - a fault names one of the defined checks with its own condition text, or a position
//    inside the line (terminator included) holding a character that is not a hex digit;
//  - an accepted line leaves a consistent slot, and re-encoding that slot and parsing the
//    result into fresh slots gives the same slot back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sanitizer/asan_interface.h>

#include "solver/job_slot.h"
#include "tests/support/hex.h"

// The harness's own loops stay out of the coverage map, which is the parser's.
#define HARNESS __attribute__((no_sanitize("coverage")))

namespace {

[[noreturn]] void broken(const char* what, const std::string& line) {
    std::fprintf(stderr, "job-line property broken: %s\nline (%zu bytes): ", what, line.size());
    for (unsigned char c : line)
        std::fprintf(stderr, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

// The line goes at the very end of a poisoned arena, terminator last, so AddressSanitizer
// reports any read past the terminator (and, granule permitting, before the line).
constexpr size_t kArenaBytes = 1 << 17;
alignas(8) char arena[kArenaBytes + 8];

// parse_exactly parses |line| as the product does, from a terminated copy with nothing
// readable behind it.
HARNESS JobParseResult parse_exactly(const std::string& line, JobSlot* slots) {
    static bool poisoned = false;
    if (!poisoned) {
        ASAN_POISON_MEMORY_REGION(arena, sizeof arena);
        poisoned = true;
    }
    const size_t len = line.size() + 1;
    if (len > kArenaBytes) broken("line longer than the arena", line);
    char* text = arena + kArenaBytes - len;
    ASAN_UNPOISON_MEMORY_REGION(text, len);
    std::memcpy(text, line.data(), line.size());
    text[line.size()] = '\0';
    const JobParseResult result = parse_job_line_checked(text, slots, pool_count);
    ASAN_POISON_MEMORY_REGION(text, len);
    return result;
}

HARNESS void check_fault(const JobParseResult& r, const std::string& line) {
    if (r.slot != nullptr) broken("a fault that still returns a slot", line);
    // The parser stops at the first NUL, as the product's C string does.
    const size_t visible = std::strlen(line.c_str());
    if (r.fault == JobLineFault::invalid_hex) {
        if (r.offset > visible) broken("invalid-hex offset past the line's end", line);
        if (r.character != line.c_str()[r.offset])
            broken("invalid-hex names another character", line);
        if (hex_nibble(r.character) >= 0) broken("invalid-hex names a hex digit", line);
        return;
    }
    for (const JobLineCheck& c : kJobLineChecks)
        if (c.number == r.check && std::strcmp(c.condition, r.condition) == 0) return;
    broken("a fault with an undefined check number or condition text", line);
}

// hex alternates the case byte by byte, upper first: the parser must read both.
HARNESS std::string hex(const uint8_t* p, size_t n) {
    std::string s = to_hex(p, n);
    for (size_t i = 0; i < s.size(); i += 4)
        for (size_t j = i; j < i + 2; ++j)
            if (s[j] >= 'a') s[j] = static_cast<char>(s[j] - 'a' + 'A');
    return s;
}

HARNESS bool all_zero(const uint8_t* p, size_t n) {
    static const uint8_t zeros[sizeof JobSlot::solution] = {};
    return n <= sizeof zeros && std::memcmp(p, zeros, n) == 0;
}

// encode writes a job line that carries everything the parser stored in a slot that was
// zero before. The header field's length is recovered as any k at which the fixed nonce
// sits with only zeros behind it; every such k rebuilds the same header.
HARNESS std::string encode(const JobSlot& s, bool paused_flag, const std::string& original) {
    const size_t n = s.fixed_nonce_bytes;
    size_t used = sizeof s.header;
    while (used > 0 && s.header[used - 1] == 0)
        --used;
    size_t k = sizeof s.header - n;
    while (std::memcmp(s.header + k, s.fixed_nonce, n) != 0) {
        if (k == 0 || k + n <= used) broken("no header length explains the slot", original);
        --k;
    }
    std::string line;
    line += paused_flag ? "1 " : "0 ";
    if (s.pool_id_text[0]) line += s.pool_id_text[0];
    line += ' ';
    line += hex(s.target, sizeof s.target) + ' ';
    line += std::string(s.job_id) + ' ';
    line += hex(s.header, k) + ' ';
    line += hex(s.fixed_nonce, n) + ' ';
    line += hex(s.solution, s.solution_len);
    return line;
}

HARNESS void expect_same_slot(const JobSlot& a, const JobSlot& b, const std::string& line) {
#define SAME_FIELD(f)                                                                              \
    if (std::memcmp(&a.f, &b.f, sizeof a.f) != 0) broken("round trip changed " #f, line)
    SAME_FIELD(active);
    SAME_FIELD(new_job);
    SAME_FIELD(commit_record_empty);
    SAME_FIELD(commit_header);
    SAME_FIELD(fixed_nonce_bytes);
    SAME_FIELD(solution_len);
    SAME_FIELD(pool_id_text);
    SAME_FIELD(target);
    SAME_FIELD(job_id);
    SAME_FIELD(header);
    SAME_FIELD(solution);
    SAME_FIELD(fixed_nonce);
    SAME_FIELD(commit_digest);
    SAME_FIELD(commit_record);
    SAME_FIELD(last_batch_hashes);
    SAME_FIELD(nonce_base);
    SAME_FIELD(extra_nonce_word);
    SAME_FIELD(extra_nonce_byte);
#undef SAME_FIELD
}

HARNESS void check_accepted(const JobParseResult& r, const JobSlot* slots,
                            const std::string& line) {
    if (r.slot < slots || r.slot >= slots + pool_count)
        broken("returned slot outside the array", line);
    const JobSlot& s = *r.slot;
    const unsigned char pool = static_cast<unsigned char>(s.pool_id_text[0]);
    const size_t expect_index = pool == 0 ? 0 : pool >= '0' ? pool - '0' : pool;
    if (static_cast<size_t>(r.slot - slots) != expect_index)
        broken("slot is not the pool id's", line);
    if (s.pool_id_text[1] != 0) broken("pool_id_text is not terminated", line);
    if (std::memchr(s.job_id, 0, job_id_len) == nullptr) broken("job_id is not terminated", line);
    if (s.fixed_nonce_bytes > 8) broken("more than 8 fixed nonce bytes accepted", line);
    if (s.solution_len > sizeof s.solution) broken("solution_len beyond the solution", line);
    if (!all_zero(s.solution + s.solution_len, sizeof s.solution - s.solution_len))
        broken("solution bytes beyond solution_len not zero", line);
    if (s.active != (all_zero(s.header, sizeof s.header) ? 0 : 1))
        broken("active flag wrong", line);
}

// fresh_slots returns the slots in their start-up state.
HARNESS JobSlot* fresh_slots(JobSlot* slots) {
    for (uint32_t i = 0; i < pool_count; ++i) {
        reset_job_slot(slots[i]);
        std::memset(slots[i].fixed_nonce, 0, sizeof slots[i].fixed_nonce);
    }
    return slots;
}

// round_trip re-encodes the slot that |first| (fresh slots) got from |line|, parses the
// result into fresh slots and expects the same slots back.
HARNESS void round_trip(const std::string& line, const JobParseResult& r1, const JobSlot* first) {
    static JobSlot second[pool_count];
    const bool paused1 = paused.load() != 0;
    const std::string again = encode(*r1.slot, paused1, line);
    const JobParseResult r2 = parse_exactly(again, fresh_slots(second));
    if (r2.fault != JobLineFault::none) broken("the re-encoded line is rejected", line);
    if (r2.slot - second != r1.slot - first)
        broken("round trip moved the job to another slot", line);
    if ((paused.load() != 0) != paused1) broken("round trip changed paused", line);
    for (uint32_t i = 0; i < pool_count; ++i)
        expect_same_slot(first[i], second[i], line);
}

} // namespace

// Lines before the last one are parsed in turn into the same slots, so that the last one
// meets slots left behind by other jobs; its round trip starts again from fresh slots.
extern "C" HARNESS int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static JobSlot slots[pool_count];
    fresh_slots(slots);
    const std::string input(reinterpret_cast<const char*>(data), size);
    bool fresh = true;
    size_t start = 0;
    for (;;) {
        const size_t end = input.find('\n', start);
        const bool last = end == std::string::npos;
        const std::string line = input.substr(start, last ? end : end - start);
        // The main loop never hands over "quit" or an empty line.
        if (!line.empty() && line != "quit") {
            JobParseResult r = parse_exactly(line, slots);
            if (r.fault != JobLineFault::none) {
                check_fault(r, line);
                return 0;
            }
            check_accepted(r, slots, line);
            if (last) {
                if (!fresh) {
                    // The line defines the whole header, whatever the slot held before.
                    uint8_t header[sizeof JobSlot::header];
                    std::memcpy(header, r.slot->header, sizeof header);
                    r = parse_exactly(line, fresh_slots(slots));
                    if (r.fault != JobLineFault::none)
                        broken("a line accepted after other jobs is rejected on fresh slots", line);
                    if (std::memcmp(header, r.slot->header, sizeof header) != 0)
                        broken("the header keeps bytes of the slot's earlier jobs", line);
                }
                round_trip(line, r, slots);
            }
            fresh = false;
        }
        if (last) return 0;
        start = end + 1;
    }
}
