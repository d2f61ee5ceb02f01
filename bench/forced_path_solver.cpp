// The solver with its nonce path named on the command line, so that paths can be compared
// as miners run them, one process per core:
//   zantu_forced_solver native|flight|lanes|portable [solver options]
// native: what the probes choose; flight: the in-flight path's AVX2 form.
// A path is forced by hiding from the probes the processor features that the faster paths
// need; everything else is the solver itself.
#include <cstdio>
#include <cstring>

#include "crypto/cpu/cpu_features.h"
#include "solver/solver_loop.h"

namespace {

cpuid_fn_t real_cpuid = nullptr;
uint32_t hidden_leaf1_ecx = 0; // bits cleared from leaf 1 ECX
bool hide_leaf7 = false;       // leaf 7 reports no features
bool hide_avx512 = false;      // leaf 7 reports no AVX-512

void cpuid_hiding(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
    real_cpuid(leaf, subleaf, regs);
    if (leaf == 1) regs[2] &= ~hidden_leaf1_ecx;
    if (leaf == 7 && hide_leaf7) regs[1] = regs[2] = regs[3] = 0;
    if (leaf == 7 && hide_avx512) regs[1] &= ~((1u << 16) | (1u << 17) | (1u << 30) | (1u << 31));
}

} // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "";
    if (!std::strcmp(path, "lanes")) {
        hide_leaf7 = true;
    } else if (!std::strcmp(path, "portable")) {
        hidden_leaf1_ecx = 1u << 25; // AES
    } else if (!std::strcmp(path, "flight")) {
        hide_avx512 = true;
    } else if (std::strcmp(path, "native") != 0) {
        std::fprintf(stderr, "usage: %s native|flight|lanes|portable [solver options]\n", argv[0]);
        return 2;
    }
    real_cpuid = cpuid_fn;
    cpuid_fn = cpuid_hiding;
    if (!std::strcmp(path, "flight") && flight_avx2_decision(read_cpu_features()) != 1) {
        std::fprintf(stderr, "this processor has no in-flight path\n");
        return 2;
    }
    argv[1] = argv[0];
    return solver_main(argc - 1, argv + 1);
}
