// The per-thread hash key: an 8832-byte key expanded from a 32-byte seed with
// Haraka-256, its backup of the indexed part and the touch list of the last digest.
#pragma once

#include <cstdint>
#include "crypto/base/vec128.h"

// KeySeedRecord says which seed the thread's key buffer was last expanded from.
struct KeySeedRecord {
    uint8_t seed[32];
    int32_t keySize;
    // A fresh buffer holds no key, whatever |seed| says: the first PrepareKey must expand.
    bool holds_key;
};

// key_buffer_allocator allocates the key buffer; posix_memalign unless a test stands in.
using key_buffer_allocator_t = int (*)(void** out, size_t alignment, size_t size);
extern key_buffer_allocator_t key_buffer_allocator;

// AcquireKeyBuffer gives the calling thread a key buffer of 2 × |keySize| bytes and a seed
// record; returns false when the aligned allocation failed.
bool AcquireKeyBuffer(int64_t keySize);

// ThreadKeyBuffer returns the calling thread's key buffer, or null before AcquireKeyBuffer.
uint8_t* ThreadKeyBuffer();

// ThreadKeyRecord returns the calling thread's seed record, or null before AcquireKeyBuffer.
KeySeedRecord* ThreadKeyRecord();

// ThreadTouchList returns the thread's touch list (kTouchEntries entry references), behind
// the backup of the key buffer.
vec128** ThreadTouchList();

// PrepareKey makes the thread's key the expansion of |seed|: expands when the seed differs
// from the last one (or no key is held yet), otherwise restores the indexed part from backup.
// |seed| (32 bytes) must be 16-byte aligned; AcquireKeyBuffer must have succeeded.
void PrepareKey(const uint8_t* seed);

// ExpandKey writes the expansion of |seed| into |key| (|keySize| bytes) through haraka256_fn.
// |key| and |seed| must be 16-byte aligned.
void ExpandKey(uint8_t* key, const uint8_t* seed, int64_t keySize);

// RestoreTouched copies the backup of every entry in the touch list back over the entry;
// the list must hold the entries of the last mixing on this thread's key.
void RestoreTouched();
