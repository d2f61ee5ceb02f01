// aarch64: the kernel's hardware capability word, and the decisions over it. Built without
// instruction-set flags: it decides whether the flagged files may run.
#include <asm/hwcap.h>
#include <sys/auxv.h>

#include "crypto/cpu/cpu_features.h"

namespace {

// The kernel's word, not a trial instruction: SIGILL handlers are not ours to install.
uint64_t hwcap_native() {
    return getauxval(AT_HWCAP);
}

} // namespace

hwcap_fn_t hwcap_fn = hwcap_native;

CpuFeatures read_fast_hash_features() {
    return CpuFeatures{hwcap_fn()};
}

CpuFeatures read_cpu_features() {
    return read_fast_hash_features();
}

int32_t fast_hash_decision(const CpuFeatures& f) {
    // The crypto extensions bring AES and PMULL together, but the kernel reports them apart.
    constexpr uint64_t kNeed = HWCAP_AES | HWCAP_PMULL;
    return (f.hwcap & kNeed) == kNeed ? 1 : 0;
}
