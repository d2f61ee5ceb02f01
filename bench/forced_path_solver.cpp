// The solver with its nonce path named on the command line, so that paths can be compared
// as miners run them, one process per core:
//   zantu_forced_solver native|flight512|flight|flight128|lanes|portable [solver options]
// (on aarch64: native|flight|portable)
// native: what the selection chooses; the others name a path by its tag (portable: the
// Finalize loop on the portable forms). A path is forced by hiding from the probe the
// processor features that the faster paths need; everything else is the solver itself.
#include <cstdio>
#include <cstring>

#if defined(__aarch64__)
#include <asm/hwcap.h>
#endif

#include "crypto/cpu/cpu_features.h"
#include "crypto/nonce/nonce_path.h"
#include "solver/solver_loop.h"

namespace {

#if defined(__x86_64__)
// What each name hides: bits of leaf-1 ECX, and whether leaf 7 reports nothing or nothing of
// AVX-512.
struct Hiding {
    const char* name;
    const char* tag; // the path that must then be chosen; null for native
    uint32_t leaf1_ecx;
    bool leaf7, avx512;
};
constexpr uint32_t kAes = 1u << 25, kOsxsave = 1u << 27;
constexpr Hiding kHidings[] = {
    {"native", nullptr, 0, false, false},
    {"flight512", "flight512", 0, false, false},
    {"flight", "flight", 0, false, true},
    {"flight128", "flight128", 0, true, false},
    // Without OSXSAVE no in-flight form may run; the fast forms need only the CPUID bits.
    {"lanes", "lanes", kOsxsave, true, false},
    {"portable", "finalize", kAes, false, false},
};

const Hiding* hiding = nullptr;
cpuid_fn_t real_cpuid = nullptr;

void cpuid_hiding(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
    real_cpuid(leaf, subleaf, regs);
    if (leaf == 1) regs[2] &= ~hiding->leaf1_ecx;
    if (leaf == 7 && hiding->leaf7) regs[1] = regs[2] = regs[3] = 0;
    if (leaf == 7 && hiding->avx512)
        regs[1] &= ~((1u << 16) | (1u << 17) | (1u << 30) | (1u << 31));
}

void install_hiding() {
    real_cpuid = cpuid_fn;
    cpuid_fn = cpuid_hiding;
}
#elif defined(__aarch64__)
// The in-flight path needs nothing beyond the fast forms, so only they can be hidden.
struct Hiding {
    const char* name;
    const char* tag;
    uint64_t hwcap;
};
constexpr Hiding kHidings[] = {
    {"native", nullptr, 0},
    {"flight", "flight", 0},
    {"portable", "finalize", HWCAP_AES},
};

const Hiding* hiding = nullptr;
hwcap_fn_t real_hwcap = nullptr;

uint64_t hwcap_hiding() {
    return real_hwcap() & ~hiding->hwcap;
}

void install_hiding() {
    real_hwcap = hwcap_fn;
    hwcap_fn = hwcap_hiding;
}
#endif

} // namespace

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : "";
    for (const Hiding& h : kHidings)
        if (!std::strcmp(name, h.name)) hiding = &h;
    if (!hiding) {
        std::fprintf(stderr, "usage: %s", argv[0]);
        for (const Hiding& h : kHidings)
            std::fprintf(stderr, "%s%s", &h == kHidings ? " " : "|", h.name);
        std::fprintf(stderr, " [solver options]\n");
        return 2;
    }
    install_hiding();
    const CpuFeatures features = read_cpu_features();
    if (hiding->tag &&
        std::strcmp(best_nonce_path(features, fast_hash_decision(features)).tag, hiding->tag)) {
        std::fprintf(stderr, "this processor has no %s path\n", hiding->name);
        return 2;
    }
    argv[1] = argv[0];
    return solver_main(argc - 1, argv + 1);
}
