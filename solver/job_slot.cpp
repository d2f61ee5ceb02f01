#include "solver/job_slot.h"

#include <cstring>
#include <sys/types.h>

#include <sodium.h>

#include "solver/settings.h"

JobSlot job_slots[pool_count];
std::atomic<uint8_t> paused{0};

namespace {

constexpr bool checks_in_id_order() {
    for (size_t i = 0; i < sizeof kJobLineChecks / sizeof kJobLineChecks[0]; ++i)
        if (static_cast<size_t>(kJobLineChecks[i].id) != i) return false;
    return true;
}
static_assert(checks_in_id_order(), "kJobLineChecks must be in JobLineCheckId order");

JobParseResult check_failed(JobLineCheckId id) {
    const JobLineCheck& c = job_line_check(id);
    return JobParseResult{nullptr, JobLineFault::failed_check, c.number, c.condition, 0, 0};
}

JobParseResult bad_hex(const char* str, size_t pos) {
    return JobParseResult{nullptr, JobLineFault::invalid_hex, 0, nullptr, pos, str[pos]};
}

// Decodes the pair at pos into out. The first digit is rejected before the second is read,
// so a line ending inside a pair is never read past its terminator.
bool decode_pair(const char* str, size_t pos, uint8_t& out, JobParseResult& fault) {
    const int hi = hex_nibble(str[pos]);
    if (hi < 0) {
        fault = bad_hex(str, pos);
        return false;
    }
    const int lo = hex_nibble(str[pos + 1]);
    if (lo < 0) {
        fault = bad_hex(str, pos + 1);
        return false;
    }
    out = static_cast<uint8_t>(hi << 4 | lo);
    return true;
}

bool all_zero(const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (data[i] != 0) return false;
    return true;
}

void check_commitment(JobSlot& slot) {
    if (slot.solution[0] < 7 || slot.solution[5] == 0) {
        slot.commit_record_empty = 0;
        slot.commit_header = 0;
        return;
    }
    uint8_t* record = slot.commit_record;
    std::memcpy(record, slot.header + kHeaderFieldsOffset, kHeaderFieldsBytes);
    std::memset(record + kRecordNonceOffset, 0, kHeaderNonceBytes);
    std::memcpy(record + kRecordBitsOffset, slot.header + kHeaderBitsOffset, kHeaderBitsBytes);
    std::memcpy(record + kRecordSolutionOffset, slot.solution + kSolutionCommittedOffset,
                kSolutionCommittedBytes);
    if (all_zero(record, sizeof slot.commit_record)) {
        slot.commit_record_empty = 1;
        slot.commit_header = 1;
        return;
    }
    // The controlling program may have committed with or without the fixed nonce in the
    // record; both are accepted. An all-zero digest is the hash's failure value.
    const auto matches = [&slot] {
        blake2b_default_hash(slot.commit_digest, slot.commit_record, sizeof slot.commit_record);
        return !all_zero(slot.commit_digest, kCommitDigestBytes) &&
               std::memcmp(slot.commit_digest, slot.solution + kCommitDigestOffset,
                           kCommitDigestBytes) == 0;
    };
    slot.commit_record_empty = 0;
    if (matches()) {
        slot.commit_header = 1;
        return;
    }
    std::memcpy(record + kRecordNonceOffset, slot.fixed_nonce, slot.fixed_nonce_bytes);
    slot.commit_header = matches() ? 1 : 0;
}

} // namespace

void reset_job_slot(JobSlot& slot) {
    slot.active = 0;
    slot.new_job = 0;
    slot.commit_record_empty = 0;
    slot.commit_header = 0;
    slot.fixed_nonce_bytes = 4;
    slot.solution_len = kSolutionBytes;
    std::memset(slot.pool_id_text, 0, sizeof slot.pool_id_text);
    std::memset(slot.target, 0, sizeof slot.target);
    std::memset(slot.job_id, 0, sizeof slot.job_id);
    std::memset(slot.header, 0, sizeof slot.header);
    std::memset(slot.solution, 0, sizeof slot.solution);
    std::memset(slot.commit_digest, 0, sizeof slot.commit_digest);
    std::memset(slot.commit_record, 0, sizeof slot.commit_record);
    slot.last_batch_hashes = 0;
    slot.nonce_base = 0;
    slot.extra_nonce_word = 0;
    slot.extra_nonce_byte = 0;
}

int hex_nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int hex_digit_value(const char* str, size_t pos) {
    const int value = hex_nibble(str[pos]);
    if (value < 0) report_job_line_fault(bad_hex(str, pos));
    return value;
}

JobParseResult parse_job_line_checked(const char* str, JobSlot* slots, uint32_t pool_count) {
    JobParseResult fault{};
    size_t str_i = 0;

    // Pause field. A terminator is never stepped over, so every later read stays inside.
    uint8_t pause_char = 0;
    if (str[str_i] == ' ') {
        str_i = 1;
    } else {
        pause_char = static_cast<uint8_t>(str[str_i]);
        if (pause_char == 0 || str[str_i + 1] != ' ')
            return check_failed(JobLineCheckId::pause_field);
        str_i = 2;
    }

    // Pool id. Bytes are unsigned so that 0x80 and above can never index below the slots.
    uint32_t _poolid = 0;
    char pool_char = 0;
    if (str[str_i] == ' ') {
        ++str_i;
    } else {
        pool_char = str[str_i];
        if (pool_char == 0 || str[str_i + 1] != ' ')
            return check_failed(JobLineCheckId::pool_field);
        str_i += 2;
        const uint32_t code = static_cast<uint8_t>(pool_char);
        _poolid = code >= '0' ? code - '0' : code;
        if (!(_poolid < pool_count)) return check_failed(JobLineCheckId::pool_id);
    }
    JobSlot& slot = slots[_poolid];
    slot.pool_id_text[0] = pool_char;
    slot.pool_id_text[1] = 0;

    // Target: bytes beyond a short field keep their former values.
    size_t target_bytes = 0;
    while (target_bytes < sizeof slot.target && str[str_i] != ' ') {
        if (!decode_pair(str, str_i, slot.target[target_bytes], fault)) return fault;
        ++target_bytes;
        str_i += 2;
    }
    if (target_bytes == sizeof slot.target && str[str_i] != ' ')
        return check_failed(JobLineCheckId::target_end);
    ++str_i;

    // Job id. A line that ends here is as malformed as an overlong id.
    size_t i = 0;
    while (str[str_i] != ' ') {
        if (str[str_i] == 0 || i == job_id_len) return check_failed(JobLineCheckId::job_id_end);
        slot.job_id[i++] = str[str_i++];
    }
    if (!(i < job_id_len)) return check_failed(JobLineCheckId::job_id_length);
    slot.job_id[i] = 0;
    ++str_i;

    // Header: the line defines all 140 bytes, so nothing of the slot's earlier job survives
    // behind its header and fixed-nonce fields.
    std::memset(slot.header, 0, sizeof slot.header);
    size_t k = 0;
    while (k < sizeof slot.header && str[str_i] != ' ') {
        if (!decode_pair(str, str_i, slot.header[k], fault)) return fault;
        ++k;
        str_i += 2;
    }
    if (k == sizeof slot.header) {
        if (str[str_i] != ' ') return check_failed(JobLineCheckId::header_end);
        ++str_i;
        if (str[str_i] != ' ') return check_failed(JobLineCheckId::fixed_nonce_end);
    } else {
        ++str_i;
    }

    // Fixed nonce: continues the header; only the first 8 bytes are ever valid.
    slot.fixed_nonce_bytes = 0;
    if (str[str_i] != ' ') {
        for (;;) {
            uint8_t byte = 0;
            if (!decode_pair(str, str_i, byte, fault)) return fault;
            str_i += 2;
            const size_t n = slot.fixed_nonce_bytes;
            if (n < sizeof slot.fixed_nonce) slot.fixed_nonce[n] = byte;
            slot.header[k + n] = byte;
            slot.fixed_nonce_bytes = n + 1;
            if (k + slot.fixed_nonce_bytes == sizeof slot.header) {
                if (!(slot.fixed_nonce_bytes <= kMaxFixedNonceBytes))
                    return check_failed(JobLineCheckId::fixed_nonce_length);
                if (str[str_i] != ' ') return check_failed(JobLineCheckId::fixed_nonce_end);
                break;
            }
            if (str[str_i] == ' ') {
                if (!(slot.fixed_nonce_bytes <= kMaxFixedNonceBytes))
                    return check_failed(JobLineCheckId::fixed_nonce_length);
                break;
            }
        }
    }
    ++str_i;

    // Solution: a space or the line's end ends it at either digit of a pair; a lone last
    // digit is dropped.
    std::memset(slot.solution, 0, sizeof slot.solution);
    size_t n = 0;
    while (n < sizeof slot.solution) {
        const char first = str[str_i];
        if (first == 0 || first == ' ') break;
        const int hi = hex_nibble(first);
        if (hi < 0) return bad_hex(str, str_i);
        const char second = str[str_i + 1];
        if (second == 0 || second == ' ') break;
        const int lo = hex_nibble(second);
        if (lo < 0) return bad_hex(str, str_i + 1);
        slot.solution[n++] = static_cast<uint8_t>(hi << 4 | lo);
        str_i += 2;
    }
    slot.solution_len = n;

    check_commitment(slot);

    paused.store(pause_char > '0' ? 1 : 0);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    slot.active = all_zero(slot.header, sizeof slot.header) ? 0 : 1;

    JobParseResult result{};
    result.slot = &slot;
    result.fault = JobLineFault::none;
    return result;
}

void report_job_line_fault(const JobParseResult& result) {
    if (result.fault == JobLineFault::invalid_hex)
        exit_with_error("Invalid hex char at offset %zd: ...%c...\n",
                        static_cast<ssize_t>(result.offset), result.character);
    exit_with_error("%u: %s\n", result.check, result.condition);
}

JobSlot* parse_job_line(const char* str, JobSlot* slots, uint32_t pool_count) {
    const JobParseResult result = parse_job_line_checked(str, slots, pool_count);
    if (result.fault != JobLineFault::none) report_job_line_fault(result);
    return result.slot;
}

uint8_t* blake2b_default_hash(uint8_t out[32], const uint8_t* data, size_t len) {
    static const unsigned char personal[crypto_generichash_blake2b_PERSONALBYTES] = {
        'Z', 'a', 'n', 't', 'u', 'D', 'e', 'f', 'a', 'u', 'l', 't', 'H', 'a', 's', 'h'};
    std::memset(out, 0, 32);
    crypto_generichash_blake2b_state state;
    if (crypto_generichash_blake2b_init_salt_personal(&state, nullptr, 0, 32, nullptr, personal) !=
        0)
        return out;
    crypto_generichash_blake2b_update(&state, data, len);
    if (crypto_generichash_blake2b_final(&state, out, 32) != 0) std::memset(out, 0, 32);
    return out;
}
