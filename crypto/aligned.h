// Alignment preconditions. The fast forms load with aligned instructions, so an unaligned
// pointer faults on AES-NI machines only; asserting at the entry points makes the mistake
// fail on every machine in builds with assertions (debug and sanitizer builds).
#pragma once

#include <cassert>
#include <cstdint>

// is_aligned tells whether |p| is a multiple of |alignment| bytes.
inline bool is_aligned(const void* p, uintptr_t alignment) {
    return reinterpret_cast<uintptr_t>(p) % alignment == 0;
}
