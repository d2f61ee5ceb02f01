// The one CPUID probe and the Haraka dispatch slots; written at start-up only.
#include <cpuid.h>
#include <cstring>

#include "crypto/cpu_dispatch.h"
#include "crypto/haraka.h"

namespace {

constexpr uint32_t kFastFeatureMask = 0x12000002; // PCLMULQDQ | AES | AVX in leaf-1 ECX
constexpr int32_t kNotProbed = 0x80;

void cpuid_native(uint32_t leaf, uint32_t* eax, uint32_t* ecx) {
    uint32_t a = 0, b = 0, c = 0, d = 0;
    __cpuid(leaf, a, b, c, d);
    *eax = a;
    *ecx = c;
}

} // namespace

int32_t fast_hash_support = kNotProbed;
haraka256_fn_t haraka256_fn = nullptr;
haraka512_fn_t haraka512_fn = nullptr;
haraka512_rc_fn_t haraka512_rc_fn = nullptr;
cpuid_fn_t cpuid_fn = cpuid_native;

int32_t fast_hash_decision(uint32_t max_basic_leaf, uint32_t leaf1_ecx) {
    if (max_basic_leaf == 0) return 0;
    return (leaf1_ecx & kFastFeatureMask) == kFastFeatureMask ? 1 : 0;
}

int32_t probe_fast_hash_support() {
    if (!(fast_hash_support & kNotProbed)) return fast_hash_support;
    uint32_t max_leaf = 0, ecx = 0;
    cpuid_fn(0, &max_leaf, &ecx);
    uint32_t leaf1_ecx = 0;
    // Leaf 1 is not queried on a processor that reports none.
    if (max_leaf != 0) {
        uint32_t eax = 0;
        cpuid_fn(1, &eax, &leaf1_ecx);
    }
    fast_hash_support = fast_hash_decision(max_leaf, leaf1_ecx);
    return fast_hash_support;
}

void install_haraka_forms(int32_t fast) {
    if (fast == 1) {
        load_haraka_constants();
        haraka512_fn = haraka512_hash_aesni;
        haraka512_rc_fn = haraka512_hash_rc_aesni;
        haraka256_fn = haraka256_hash_aesni;
    } else {
        std::memcpy(haraka_rc_soft, HARAKA_RC, sizeof haraka_rc_soft);
        haraka512_fn = haraka512_hash_portable;
        haraka512_rc_fn = haraka512_hash_rc_portable;
        haraka256_fn = haraka256_hash_portable;
    }
}

void select_haraka_implementations() {
    install_haraka_forms(probe_fast_hash_support());
}
