// The three job slots, the job-line parser that fills them and the header-commitment digest.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "solver/job_layout.h"

// pool_count: number of job slots, one per pool id.
constexpr uint32_t pool_count = 3;

// job_id_len: size of the job-id buffer, terminating zero included.
constexpr size_t job_id_len = 32;

// JobSlot: one pool's job as parsed, its header-commitment state and its nonce progress.
struct JobSlot {
    uint8_t active;
    uint8_t new_job;
    uint8_t commit_record_empty;
    uint8_t commit_header;
    uint64_t fixed_nonce_bytes;
    uint64_t solution_len;
    char pool_id_text[2];
    uint8_t target[32];
    char job_id[job_id_len];
    uint8_t header[kHeaderBytes];
    uint8_t solution[kSolutionBytes];
    uint8_t fixed_nonce[kMaxFixedNonceBytes];
    uint8_t commit_digest[kCommitDigestBytes];
    uint8_t commit_record[kCommitRecordBytes];
    uint64_t last_batch_hashes;
    uint64_t nonce_base;
    uint16_t extra_nonce_word;
    uint8_t extra_nonce_byte;
};

// job_slots: the slots indexed by pool id; zero-filled until start-up resets them.
extern JobSlot job_slots[pool_count];

// paused: set from a job line's pause field; while set the main loop hashes nothing.
extern std::atomic<uint8_t> paused;

// JobLineFault: what went wrong with a job line, if anything.
enum class JobLineFault : uint8_t { none, failed_check, invalid_hex };

// JobLineCheckId: the parser's structural checks, each one row of kJobLineChecks.
enum class JobLineCheckId : uint8_t {
    pause_field,        // one character or none, then a space
    pool_field,         // likewise
    pool_id,            // names a slot
    target_end,         // a space right after 64 digits
    job_id_end,         // a space before the line ends or the buffer is full
    job_id_length,      // room left for the terminator
    header_end,         // a space right after 280 digits
    fixed_nonce_length, // at most 8 bytes
    fixed_nonce_end,    // a space where the fixed nonce fills the header
};

// JobLineCheck: a check with the number and condition text that its fault message prints.
struct JobLineCheck {
    JobLineCheckId id;
    unsigned number;
    const char* condition;
};

// kJobLineSpaceExpected: the condition text of every check for a field's closing space.
inline constexpr char kJobLineSpaceExpected[] = "str[str_i] == ' '";

// kJobLineChecks: every structural check, in JobLineCheckId order. The numbers and texts
// are the controlling program's to read: they never change.
inline constexpr JobLineCheck kJobLineChecks[] = {
    {JobLineCheckId::pause_field, 343, kJobLineSpaceExpected},
    {JobLineCheckId::pool_field, 349, kJobLineSpaceExpected},
    {JobLineCheckId::pool_id, 352, "_poolid < pool_count"},
    {JobLineCheckId::target_end, 377, kJobLineSpaceExpected},
    {JobLineCheckId::job_id_end, 382, kJobLineSpaceExpected},
    {JobLineCheckId::job_id_length, 383, "i < job_id_len"},
    {JobLineCheckId::header_end, 389, kJobLineSpaceExpected},
    {JobLineCheckId::fixed_nonce_length, 403, "(*fixed_nonce_bytes) < 9"},
    {JobLineCheckId::fixed_nonce_end, 404, kJobLineSpaceExpected},
};

// job_line_check returns the row of check |id|.
constexpr const JobLineCheck& job_line_check(JobLineCheckId id) {
    return kJobLineChecks[static_cast<size_t>(id)];
}

// JobParseResult: the filled slot, or the first fault: a failed check with its number and
// condition text, or a bad hex character with its offset.
struct JobParseResult {
    JobSlot* slot;
    JobLineFault fault;
    unsigned check;
    const char* condition;
    size_t offset;
    char character;
};

// reset_job_slot clears a slot to its start-up state; fixed_nonce keeps its bytes.
void reset_job_slot(JobSlot& slot);

// hex_nibble returns the value of one hex digit of either case, or -1 for anything else.
int hex_nibble(char c);

// hex_digit_value returns the hex value of str[pos], or ends the process with the
// invalid-hex message.
int hex_digit_value(const char* str, size_t pos);

// parse_job_line_checked decodes the job line into its pool's slot and sets paused, or
// reports the first fault without ending the process; never reads past the line's end.
JobParseResult parse_job_line_checked(const char* str, JobSlot* slots, uint32_t pool_count);

// report_job_line_fault ends the process with the message for a faulty parse result.
[[noreturn]] void report_job_line_fault(const JobParseResult& result);

// parse_job_line returns the slot filled from the job line, or ends the process with the
// fault's message.
JobSlot* parse_job_line(const char* str, JobSlot* slots, uint32_t pool_count);

// blake2b_default_hash writes the 32-byte BLAKE2b of data personalised "ZantuDefaultHash"
// into out and returns out; 32 zero bytes if the library reports failure.
uint8_t* blake2b_default_hash(uint8_t out[32], const uint8_t* data, size_t len);
