// Steering the keyed mixing's first iteration into a chosen case and corner through the key,
// for the mixing tests, the nonce-path tests and the hash-forms fuzz target. The first
// selector is the low half of the start entry, the same for every nonce of a job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>

#include "crypto/base/bytes.h"
#include "crypto/base/layout.h"

namespace steer {

// What a row does besides setting selector bits: X = R, a negative dividend of the 0x0c case
// (odd or even), negative remainders in every round of the 0x18 case, or lanes of -32768
// (which the caller sets up, as it needs the block).
enum Tweak { kPlain, kRequalsX, kNegOddDividend, kNegEvenDividend, kNegRemainders, kMinLanes };

// SteerRow: one case and corner of the first iteration.
struct SteerRow {
    const char* what;
    uint64_t case_bits;
    int rounds; // sel >> 61, or -1 for as drawn
    uint64_t set_bits, clear_bits;
    Tweak tweak;
};

// kRoundTests: the selector bits that pick each round's operation in the looped cases.
constexpr uint64_t kRoundTests = 0xFFull << 28;

// set_entry_lo stores |v| in the low half of key entry |entry|, and of its backup copy when
// |backup| is not null and the entry is an indexed one.
inline void set_entry_lo(uint8_t* key, uint8_t* backup, size_t entry, uint64_t v) {
    store_le64(key + 16 * entry, v);
    if (backup && entry < kIndexedEntries) store_le64(backup + 16 * entry, v);
}

// put_entry stores the 16 bytes at |value| as key entry |entry|, and in the backup as
// set_entry_lo does.
inline void put_entry(uint8_t* key, uint8_t* backup, size_t entry, const uint8_t* value) {
    std::memcpy(key + 16 * entry, value, 16);
    if (backup && entry < kIndexedEntries) std::memcpy(backup + 16 * entry, value, 16);
}

// steered_selector returns |sel| with |row|'s case bits, round count, set and cleared bits,
// and with X equal to R for kRequalsX.
inline uint64_t steered_selector(uint64_t sel, const SteerRow& row) {
    sel = (sel & ~0x1cull) | row.case_bits;
    if (row.rounds >= 0) sel = (sel << 3 >> 3) | static_cast<uint64_t>(row.rounds) << 61;
    sel = (sel | row.set_bits) & ~row.clear_bits;
    const uint64_t r = (sel >> 5) & kEntryIndexMask;
    if (row.tweak == kRequalsX) sel = (sel & ~(kEntryIndexMask << 32)) | r << 32;
    return sel;
}

// working_lo returns the low half of working block |j| of the 64-byte |block|: variants B
// and C (|folded|) fold blocks 2 and 3 into 0 and 1, variant A does not.
inline uint64_t working_lo(const uint8_t* block, uint64_t j, bool folded) {
    uint64_t w = load_le64(block + 16 * j);
    if (folded && j < 2) w ^= load_le64(block + 16 * (j + 2));
    return w;
}

// steer_entries writes the key entries (and backup, as set_entry_lo) that |row|'s dividend
// and remainder tweaks need under the selector |sel| over |block|, drawing from |rng|: for
// a negative dividend, entry R; for negative remainders, entries R + m of rounds m = 0..7
// below the start entry. Other tweaks write nothing.
inline void steer_entries(const SteerRow& row, uint64_t sel, const uint8_t* block, bool folded,
                          uint8_t* key, uint8_t* backup, std::mt19937_64& rng) {
    const uint64_t r = (sel >> 5) & kEntryIndexMask;
    const uint64_t p = working_lo(block, sel & 3, folded);
    const uint64_t q = working_lo(block, (sel & 3) ^ 1, folded);
    if (row.tweak == kNegOddDividend || row.tweak == kNegEvenDividend) {
        // d = lo(acc ^ Q ^ K[R]), acc starting at the selector.
        const uint64_t d = (rng() | 1ull << 63) & ~1ull;
        set_entry_lo(key, backup, r, (d | (row.tweak == kNegOddDividend)) ^ sel ^ q);
    } else if (row.tweak == kNegRemainders) {
        // Round m reads K[R + m] with n = 7 - m and XORs P for odd n, else Q.
        for (uint64_t m = 0; m <= 7 && r + m < kStartEntry; ++m)
            set_entry_lo(key, backup, r + m, (rng() | 1ull << 63) ^ ((7 - m) & 1 ? p : q));
    }
}

} // namespace steer
