#include "solver/solver_loop.h"

#include <chrono>
#include <future>
#include <string>
#include <system_error>
#include <thread>

#include "crypto/cpu/cpu_features.h"
#include "crypto/known_answer.h"
#include "crypto/selection.h"
#include "crypto/zantu_hash.h"
#include "solver/job_slot.h"
#include "solver/nonce_search.h"
#include "solver/options.h"
#include "solver/settings.h"

std::atomic<uint8_t> line_ready{0};

namespace {

using std::chrono::milliseconds;

constexpr uint64_t kLastNonce = 0xFFFFFF;

// The read in flight, if any. After end of input none is armed again: each further read
// would return at once and cut every batch short.
struct PendingRead {
    std::thread thread;
    std::future<InputLine> result;
    bool armed = false;
    bool input_ended = false;
};

// How long start-up keeps trying to start the first read before it gives up.
constexpr int kStartupArmAttempts = 50;
constexpr milliseconds kStartupArmPause(100);

void set_line_ready(uint8_t value) {
    line_ready.store(value);
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

// arm_read starts the next read unless one is in flight or input has ended. A thread that
// cannot be started (the process limit, say) is no reason to stop hashing: the loop tries
// again on its next pass, and nothing was read meanwhile. Returns whether a read is armed.
bool arm_read(PendingRead& read, std::string* failure = nullptr) {
    if (read.armed || read.input_ended) return read.armed;
    std::promise<InputLine> promise;
    std::future<InputLine> result = promise.get_future();
    try {
        // The flag is raised only after the line is published, so a batch that clears it
        // and then finds no line waiting is sure to be stopped by this store.
        read.thread = std::thread([promise = std::move(promise)]() mutable {
            promise.set_value(read_input_line(stdin));
            std::atomic_thread_fence(std::memory_order_seq_cst);
            set_line_ready(1);
        });
    } catch (const std::system_error& e) {
        if (failure) *failure = e.what();
        return false;
    }
    read.result = std::move(result);
    read.armed = true;
    return true;
}

bool line_waiting(PendingRead& read) {
    return read.armed && read.result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// Without a read in flight the wait still takes its full length, so an idle solver whose
// input has ended does not spin.
void wait_for_line(PendingRead& read, milliseconds limit) {
    if (read.armed)
        read.result.wait_for(limit);
    else
        std::this_thread::sleep_for(limit);
}

InputLine collect_line(PendingRead& read) {
    InputLine line = read.result.get();
    read.thread.join();
    read.armed = false;
    read.input_ended = line.end_of_input;
    return line;
}

// report_selection names the choice that start-up made and checked, on standard error: the
// forms, the nonce path as the bench table names it, the batch size and the memory hashing
// works in (the thread's key buffer and the path's own).
void report_selection() {
    const size_t working = kKeyBufferBytes + selection.path->working_bytes;
    std::fprintf(stderr,
                 "hashing: %s forms, nonce path %s, batch %llu nonces, working set %zu KiB\n",
                 selection.forms->name, selection.path->name,
                 static_cast<unsigned long long>(selection.batch_size), (working + 1023) / 1024);
}

// arm_first_read starts the read that must be in flight before the ready line; a solver that
// can never read its input ends with a message and status 1.
void arm_first_read(PendingRead& read) {
    std::string failure;
    for (int attempt = 0; attempt < kStartupArmAttempts; ++attempt) {
        if (arm_read(read, &failure)) return;
        std::this_thread::sleep_for(kStartupArmPause);
    }
    exit_with_error("cannot start the input reader thread: %s\n", failure.c_str());
}

// self_test_passes runs the known-answer test on the installed selection through |hasher|
// (Reset it before use). On a failure of the fast forms or of the path it says so on standard
// error, falls back to the portable selection (and |hasher|'s mixing with it) and returns
// false; when the portable forms fail too it exits with status 1, as no correct form is left.
bool self_test_passes(CZantuHashV2& hasher) {
    const KnownAnswerFault fault = known_answer_fault(hasher);
    if (fault == KnownAnswerFault::none) return true;
    if (selection.forms->probe_answer != 1)
        exit_with_error("self-test: the %s hash forms give wrong digests on this machine; no "
                        "correct form is left\n",
                        selection.forms->name);
    if (fault == KnownAnswerFault::nonce_path)
        std::fprintf(stderr,
                     "self-test: the %s nonce path gives wrong digests on this processor; "
                     "using the %s forms\n",
                     selection.path->name, hash_forms_for(0).name);
    else
        std::fprintf(stderr,
                     "self-test: the %s hash forms give wrong digests on this processor; "
                     "using the %s forms\n",
                     selection.forms->name, hash_forms_for(0).name);
    fall_back_to_portable_forms();
    hasher.SelectMixing(kHashVersion);
    self_test_passes(hasher); // the portable forms must pass on their own, or nothing runs
    return false;
}

} // namespace

InputLine read_input_line(FILE* in) {
    InputLine line{std::string(), false};
    flockfile(in);
    int c;
    while ((c = getc_unlocked(in)) != EOF && c != '\n') {
        if (line.text.size() < kMaxLineBytes) line.text.push_back(static_cast<char>(c));
    }
    line.end_of_input = c == EOF;
    funlockfile(in);
    return line;
}

uint64_t start_batch(JobSlot& slot, uint64_t batch_size) {
    if (slot.nonce_base > kLastNonce - 1) {
        slot.nonce_base = 0;
        if (slot.extra_nonce_word + 1 == 0xFFFF) {
            slot.extra_nonce_word = 0;
            slot.extra_nonce_byte =
                slot.extra_nonce_byte + 1 == 255 ? 0 : slot.extra_nonce_byte + 1;
        } else {
            slot.extra_nonce_word = slot.extra_nonce_word + 1;
        }
        prepare_nonce_area(slot);
    } else if (slot.new_job) {
        prepare_nonce_area(slot);
    }
    slot.nonce_base += slot.last_batch_hashes;
    const uint64_t room = kLastNonce - slot.nonce_base;
    return batch_size < room ? batch_size : room;
}

void solver_loop() {
    using clock = std::chrono::system_clock;
    clock::time_point period_start = clock::now();
    for (JobSlot& slot : job_slots)
        reset_job_slot(slot);
    alignas(32) CZantuHashV2 hasher(kHashVersion);
    active_hasher = &hasher;
    select_haraka_implementations();
    self_test_passes(hasher);
    batch_size = selection.batch_size;
    if (verbose) report_selection();
    PendingRead input;
    arm_first_read(input);
    std::printf("ORVANTIS ready\n");
    flush_protocol_output();

    int slot_index = 1;
    int next_index = 2;
    int cycle_batches = 0;
    int last_cycle_batches = 1;
    uint64_t period_hashes = 0;
    uint64_t total_candidates = 0;
    for (;;) {
        arm_read(input);
        if (line_waiting(input)) {
            const InputLine line = collect_line(input);
            if (!line.text.empty()) {
                if (line.text == "quit") return;
                parse_job_line(line.text.c_str(), job_slots, pool_count)->new_job = 1;
            }
            arm_read(input);
        }

        JobSlot& slot = job_slots[slot_index];
        if (!slot.active) {
            if (last_cycle_batches == 0) wait_for_line(input, milliseconds(100));
        } else if (paused.load()) {
            wait_for_line(input, milliseconds(1000));
        } else {
            ++cycle_batches;
            const uint64_t count = start_batch(slot, batch_size);
            set_line_ready(0);
            // A line published just before the clear must still stop this batch at once.
            if (line_waiting(input)) set_line_ready(1);
            uint64_t candidates = 0;
            slot.last_batch_hashes = search_nonces(hasher, line_ready, count, slot, candidates);
            if (static_cast<uint8_t>(slot.pool_id_text[0]) > 0x30) {
                period_hashes += slot.last_batch_hashes;
                total_candidates += candidates;
            }
        }

        if (next_index == 2) {
            const clock::time_point now = clock::now();
            const long long elapsed =
                std::chrono::duration_cast<milliseconds>(now - period_start).count();
            if (elapsed > 1999) {
                std::printf("status: %d %llu %lu %lld\n", cycle_batches,
                            static_cast<unsigned long long>(period_hashes / 1000),
                            static_cast<unsigned long>(total_candidates), elapsed);
                flush_protocol_output();
                period_start = clock::now();
                period_hashes = 0;
            }
            last_cycle_batches = cycle_batches;
            cycle_batches = 0;
            slot_index = 2;
            next_index = 0;
        } else {
            slot_index = next_index;
            ++next_index;
        }
    }
}

void start_solver() {
    batch_size = batch_size_for(probe_fast_hash_support());
    solver_loop();
}

int solver_main(int argc, char** argv) {
    if (parse_options(argc, argv) == OptionAction::show_usage) {
        print_usage();
        return 0;
    }
    start_solver();
    return 0;
}
