// Byte-level helpers every level uses: alignment checks behind the contracts' assertions,
// little-endian words, and the one always-inline macro of the hot paths.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>

// ZANTU_INLINE forces inlining where a call would cost more than the operation (the block
// primitives of the fast forms and the per-nonce steps built from them).
#if defined(__GNUC__)
#define ZANTU_INLINE inline __attribute__((always_inline))
#else
#define ZANTU_INLINE inline
#endif

// is_aligned tells whether |p| is a multiple of |alignment| bytes. The fast forms load with
// aligned instructions, so a misaligned pointer faults on some processors only; asserting at
// the entry points makes the mistake fail everywhere in builds with assertions.
inline bool is_aligned(const void* p, uintptr_t alignment) {
    return reinterpret_cast<uintptr_t>(p) % alignment == 0;
}

// load_le64 reads the 8 bytes at |p| (any alignment) as a little-endian number.
ZANTU_INLINE uint64_t load_le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// store_le64 writes |v| to the 8 bytes at |p| (any alignment), least significant first.
ZANTU_INLINE void store_le64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
