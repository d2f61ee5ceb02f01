// A tick counter that runs at a fixed rate on either architecture, and a chain of dependent
// one-cycle additions to turn its ticks into core cycles: no performance counters are
// exposed on the machines the benches run on.
#pragma once

#include <cstdint>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

// ticks reads the time-stamp counter (x86-64) or the virtual counter (aarch64).
inline uint64_t ticks() {
#if defined(__x86_64__)
    return __rdtsc();
#elif defined(__aarch64__)
    uint64_t t;
    __asm__ volatile("isb\n\tmrs %0, cntvct_el0" : "=r"(t));
    return t;
#endif
}

// add_chain runs 100 dependent one-cycle additions |loops| times.
inline void add_chain(uint64_t loops) {
    uint64_t x = 1;
    for (uint64_t i = 0; i < loops; ++i) {
#if defined(__x86_64__)
        __asm__ volatile(".rept 100\n\tadd %0, %0\n\t.endr" : "+r"(x));
#elif defined(__aarch64__)
        __asm__ volatile(".rept 100\n\tadd %0, %0, %0\n\t.endr" : "+r"(x));
#endif
    }
}
