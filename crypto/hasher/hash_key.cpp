// The per-thread hash key buffer: key, backup of the indexed entries, touch list.
#include <cstdlib>
#include <cstring>

#include "crypto/base/bytes.h"
#include "crypto/hasher/hash_forms.h"
#include "crypto/hasher/hash_key.h"
#include "crypto/base/layout.h"

namespace {

thread_local uint8_t* thread_key_buffer = nullptr;
thread_local KeySeedRecord* thread_key_record = nullptr;

// Frees the thread's record, then its buffer, when the thread ends. Kept apart from the two
// plain pointers so that the hot path reads them without a thread-local init check.
struct ThreadKeyRelease {
    ~ThreadKeyRelease() {
        delete thread_key_record;
        thread_key_record = nullptr;
        std::free(thread_key_buffer);
        thread_key_buffer = nullptr;
    }
};
thread_local ThreadKeyRelease thread_key_release;

int posix_memalign_allocator(void** out, size_t alignment, size_t size) {
    return posix_memalign(out, alignment, size);
}

} // namespace

key_buffer_allocator_t key_buffer_allocator = posix_memalign_allocator;

bool AcquireKeyBuffer(int64_t keySize) {
    (void)&thread_key_release; // registers the thread-exit release on first use
    if (thread_key_buffer && thread_key_record->keySize != keySize) {
        delete thread_key_record;
        thread_key_record = nullptr;
        std::free(thread_key_buffer);
        thread_key_buffer = nullptr;
    }
    if (thread_key_buffer) return true;
    void* p = nullptr;
    if (key_buffer_allocator(&p, 32, static_cast<size_t>(2 * keySize)) != 0 || !p) return false;
    thread_key_buffer = static_cast<uint8_t*>(p);
    delete thread_key_record;
    thread_key_record = new KeySeedRecord{};
    thread_key_record->keySize = static_cast<int32_t>(keySize);
    thread_key_record->holds_key = false;
    return true;
}

uint8_t* ThreadKeyBuffer() {
    return thread_key_buffer;
}

KeySeedRecord* ThreadKeyRecord() {
    return thread_key_record;
}

vec128** ThreadTouchList() {
    // The backup of the indexed entries follows the key, the touch list the backup.
    return reinterpret_cast<vec128**>(thread_key_buffer + thread_key_record->keySize +
                                      kIndexedBytes);
}

void ExpandKey(uint8_t* key, const uint8_t* seed, int64_t keySize) {
    assert(is_aligned(key, 16) && is_aligned(seed, 16));
    const int64_t blocks = keySize / 32;
    for (int64_t i = 0; i < blocks; ++i)
        haraka256_fn(key + 32 * i, i == 0 ? seed : key + 32 * (i - 1));
    if (const int64_t rest = keySize % 32) {
        alignas(16) uint8_t last[32], tail[32];
        std::memcpy(last, blocks == 0 ? seed : key + 32 * (blocks - 1), 32);
        haraka256_fn(tail, last);
        std::memcpy(key + 32 * blocks, tail, static_cast<size_t>(rest));
    }
}

void PrepareKey(const uint8_t* seed) {
    assert(is_aligned(seed, 16));
    KeySeedRecord* record = thread_key_record;
    uint8_t* key = thread_key_buffer;
    uint8_t* backup = key + record->keySize;
    if (!record->holds_key || std::memcmp(seed, record->seed, 32) != 0) {
        ExpandKey(key, seed, record->keySize);
        std::memmove(record->seed, seed, 32);
        record->holds_key = true;
        std::memcpy(backup, key, kIndexedBytes);
    } else {
        std::memcpy(key, backup, kIndexedBytes);
    }
}

void RestoreTouched() {
    const size_t keySize = static_cast<size_t>(thread_key_record->keySize);
    vec128** touch = ThreadTouchList();
    for (int r = 0; r < 64; ++r) {
        uint8_t* entry = reinterpret_cast<uint8_t*>(touch[r]);
        std::memcpy(entry, entry + keySize, sizeof(vec128));
    }
}
