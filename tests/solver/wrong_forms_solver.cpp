// The solver with one hash form made wrong on purpose, for the self-test's process tests:
//   zantu_wrong_forms_solver fast|portable [solver options]
// fast: the fast keyed compression flips the digest word's lowest bit. portable: the
// processor is taken for one without the AES instructions, and the portable keyed compression
// flips it.
#include <cstdio>
#include <cstring>

#include "crypto/selection.h"
#include "solver/solver_loop.h"
#if defined(__aarch64__)
#include <asm/hwcap.h>
#endif

namespace {

HashForms wrong;
const HashForms* right = nullptr;

void flipped_keyed_compression(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    right->haraka512_rc(out, in, rc);
    out[24] ^= 1;
}

// The probe's seam answers as the real processor would, less the AES instructions.
#if defined(__x86_64__)
cpuid_fn_t real_cpuid = nullptr;

void hide_aes() {
    real_cpuid = cpuid_fn;
    cpuid_fn = [](uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
        real_cpuid(leaf, subleaf, regs);
        if (leaf == 1) regs[2] &= ~(1u << 25);
    };
}
#elif defined(__aarch64__)
hwcap_fn_t real_hwcap = nullptr;

void hide_aes() {
    real_hwcap = hwcap_fn;
    hwcap_fn = [] { return real_hwcap() & ~uint64_t{HWCAP_AES}; };
}
#endif

} // namespace

int main(int argc, char** argv) {
    const char* which = argc > 1 ? argv[1] : "";
    int answer;
    if (!std::strcmp(which, "fast")) {
        answer = 1;
    } else if (!std::strcmp(which, "portable")) {
        answer = 0;
        hide_aes();
    } else {
        std::fprintf(stderr, "usage: %s fast|portable [solver options]\n", argv[0]);
        return 2;
    }
    right = forms_by_answer[answer];
    wrong = *right;
    wrong.haraka512_rc = flipped_keyed_compression;
    forms_by_answer[answer] = &wrong;
    argv[1] = argv[0];
    return solver_main(argc - 1, argv + 1);
}
