// The hash's byte layouts in one place: the solver's hash input and where its nonce lies in the
// hasher's last block; the per-thread hash key and its buffer, in entries of 16 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// The hash input: the block header, the compact-size prefix of the solution, the solution.
constexpr size_t kHeaderBytes = 140;
constexpr uint8_t kSolutionPrefix[3] = {0xfd, 0x40, 0x05}; // 1344, as a compact size
constexpr size_t kSolutionBytes = 1344;
constexpr size_t kSolutionOffset = kHeaderBytes + sizeof kSolutionPrefix;
constexpr size_t kHashInputBytes = kSolutionOffset + kSolutionBytes;

// The nonce: the input's last three bytes, least significant first. The hasher absorbs whole
// 32-byte blocks, so they are pending in its last block behind the 32-byte chaining value.
constexpr size_t kNonceBytes = 3;
constexpr size_t kChainingBytes = 32;
constexpr size_t kBlockNonceOffset =
    kChainingBytes + (kHashInputBytes - kNonceBytes) % 32; // block bytes 44..46

// The digest word: digest bytes 24..31, little-endian, the only ones the keyed compression
// defines. A nonce is a candidate when its word is below the same bytes of the target.
constexpr size_t kDigestWordOffset = 24;

static_assert(kHashInputBytes == 1487 && kBlockNonceOffset == 44);
static_assert(kSolutionBytes == (kSolutionPrefix[1] | kSolutionPrefix[2] << 8));

// kKeyEntries, kKeyBytes: one key (the hasher's keySize).
constexpr int kKeyEntries = 552;
constexpr size_t kKeyBytes = 16 * kKeyEntries;

// kIndexedEntries, kIndexedBytes: the entries the mixing picks by index and may rewrite, and
// so the ones backed up.
constexpr int kIndexedEntries = 512;
constexpr size_t kIndexedBytes = 16 * kIndexedEntries;

// kKeyIndexMask: the byte mask of the indexed part (the hasher's keyIndexMask);
// kEntryIndexMask: the same as an entry index mask; kEntryOffsetMask: as a mask of entry-aligned
// byte offsets, which the fast forms apply to a selector shifted four bits less.
constexpr uint64_t kKeyIndexMask = kIndexedBytes - 1;
constexpr uint64_t kEntryIndexMask = kKeyIndexMask >> 4;
constexpr uint64_t kEntryOffsetMask = kKeyIndexMask & ~uint64_t{15};

// kStartEntry: the entry that holds the mixing accumulator's start value.
constexpr int kStartEntry = 513;

// kRoundConstantEntries: the keyed compression's window of round constants, from an indexed
// entry on.
constexpr int kRoundConstantEntries = 40;

// The buffer: the key, then the backup of the indexed entries, then the touch list of the
// last mixing (one entry reference per write).
constexpr size_t kBackupOffset = kKeyBytes;
constexpr size_t kTouchListOffset = kBackupOffset + kIndexedBytes;
constexpr int kTouchEntries = 64;
constexpr size_t kKeyBufferBytes = 2 * kKeyBytes;

static_assert(kKeyBytes == 8832 && kKeyIndexMask == 8191 && kEntryOffsetMask == 0x1FF0);
static_assert((kIndexedEntries & (kIndexedEntries - 1)) == 0, "an index mask needs a power of 2");
static_assert(kStartEntry == kEntryIndexMask + 2 && kStartEntry < kKeyEntries,
              "the portable mixing derives the start entry from the index mask");
static_assert(kEntryIndexMask + kRoundConstantEntries <= kKeyEntries,
              "every round-constant window lies inside the key");
static_assert(kTouchListOffset + kTouchEntries * sizeof(void*) <= kKeyBufferBytes,
              "the touch list fits behind the backup");
