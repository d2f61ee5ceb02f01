// The processor probes and the implementation slots; written at start-up only.
#include <cpuid.h>

#include "crypto/cpu_dispatch.h"
#include "crypto/haraka.h"

namespace {

constexpr uint32_t kFastFeatureMask = 0x12000002; // PCLMULQDQ | AES | AVX in leaf-1 ECX
constexpr uint32_t kPopcnt = 1u << 23;            // leaf-1 ECX
constexpr uint32_t kOsxsave = 1u << 27;           // leaf-1 ECX: XGETBV is usable
constexpr uint32_t kFlightEbxMask =
    (1u << 3) | (1u << 5) | (1u << 8);                      // leaf-7 EBX: BMI1, AVX2, BMI2
constexpr uint32_t kFlightEcxMask = (1u << 9) | (1u << 10); // leaf-7 ECX: VAES, VPCLMULQDQ
constexpr uint64_t kFlightXcr0Mask = (1u << 1) | (1u << 2); // XCR0: SSE and AVX state
// Leaf-7 EBX: AVX-512 F, DQ, BW, VL; XCR0: the opmask registers and all 512-bit state.
constexpr uint32_t kAvx512EbxMask = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
constexpr uint64_t kAvx512Xcr0Mask = (1u << 5) | (1u << 6) | (1u << 7);
constexpr int32_t kNotProbed = 0x80;

void cpuid_native(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
    __cpuid_count(leaf, subleaf, regs[0], regs[1], regs[2], regs[3]);
}

uint64_t xgetbv_native(uint32_t xcr) {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(xcr));
    return uint64_t{hi} << 32 | lo;
}

} // namespace

int32_t fast_hash_support = kNotProbed;
int32_t nonce_flight_support = kNotProbed;
int32_t nonce_flight_avx512_support = kNotProbed;
haraka256_fn_t haraka256_fn = haraka256_hash_portable;
haraka512_fn_t haraka512_fn = haraka512_hash_portable;
haraka512_rc_fn_t haraka512_rc_fn = haraka512_hash_rc_portable;
const NoncePath* nonce_path = &kFinalizePath;
cpuid_fn_t cpuid_fn = cpuid_native;
xgetbv_fn_t xgetbv_fn = xgetbv_native;

int32_t fast_hash_decision(uint32_t max_basic_leaf, uint32_t leaf1_ecx) {
    if (max_basic_leaf == 0) return 0;
    return (leaf1_ecx & kFastFeatureMask) == kFastFeatureMask ? 1 : 0;
}

int32_t nonce_flight_decision(const CpuFeatures& f) {
    return fast_hash_decision(f.max_basic_leaf, f.leaf1_ecx) == 1 && f.max_basic_leaf >= 7 &&
                   (f.leaf1_ecx & kOsxsave) && (f.leaf1_ecx & kPopcnt) &&
                   (f.leaf7_ebx & kFlightEbxMask) == kFlightEbxMask &&
                   (f.leaf7_ecx & kFlightEcxMask) == kFlightEcxMask &&
                   (f.xcr0 & kFlightXcr0Mask) == kFlightXcr0Mask
               ? 1
               : 0;
}

int32_t nonce_flight_avx512_decision(const CpuFeatures& f) {
    return nonce_flight_decision(f) == 1 && (f.leaf7_ebx & kAvx512EbxMask) == kAvx512EbxMask &&
                   (f.xcr0 & kAvx512Xcr0Mask) == kAvx512Xcr0Mask
               ? 1
               : 0;
}

int32_t probe_fast_hash_support() {
    if (!(fast_hash_support & kNotProbed)) return fast_hash_support;
    uint32_t regs[4] = {};
    cpuid_fn(0, 0, regs);
    const uint32_t max_leaf = regs[0];
    uint32_t leaf1_ecx = 0;
    // Leaf 1 is not queried on a processor that reports none.
    if (max_leaf != 0) {
        cpuid_fn(1, 0, regs);
        leaf1_ecx = regs[2];
    }
    fast_hash_support = fast_hash_decision(max_leaf, leaf1_ecx);
    return fast_hash_support;
}

namespace {

// probed_features runs CPUID leaves 0, 1 and 7 and, when CPUID reports OSXSAVE, XGETBV.
CpuFeatures probed_features() {
    CpuFeatures f{};
    uint32_t regs[4] = {};
    cpuid_fn(0, 0, regs);
    f.max_basic_leaf = regs[0];
    if (f.max_basic_leaf >= 1) {
        cpuid_fn(1, 0, regs);
        f.leaf1_ecx = regs[2];
    }
    if (f.max_basic_leaf >= 7) {
        cpuid_fn(7, 0, regs);
        f.leaf7_ebx = regs[1];
        f.leaf7_ecx = regs[2];
    }
    // XGETBV faults unless the operating system has enabled it.
    if (f.leaf1_ecx & kOsxsave) f.xcr0 = xgetbv_fn(0);
    return f;
}

} // namespace

int32_t probe_nonce_flight_support() {
    if (!(nonce_flight_support & kNotProbed)) return nonce_flight_support;
    nonce_flight_support = nonce_flight_decision(probed_features());
    return nonce_flight_support;
}

int32_t probe_nonce_flight_avx512_support() {
    if (!(nonce_flight_avx512_support & kNotProbed)) return nonce_flight_avx512_support;
    nonce_flight_avx512_support = nonce_flight_avx512_decision(probed_features());
    return nonce_flight_avx512_support;
}

const HashForms kPortableForms = {
    "portable",
    haraka256_hash_portable,
    haraka512_hash_portable,
    haraka512_hash_rc_portable,
    {keyed_mix64_a_portable, keyed_mix64_b_portable, keyed_mix64_c_portable},
    {keyed_mix128_a_portable, keyed_mix128_b_portable, keyed_mix128_c_portable},
};

const HashForms kFastForms = {
    "fast",
    haraka256_hash_fast,
    haraka512_hash_fast,
    haraka512_hash_rc_fast,
    {keyed_mix64_a_fast, keyed_mix64_b_fast, keyed_mix64_c_fast},
    {keyed_mix128_a_fast, keyed_mix128_b_fast, keyed_mix128_c_fast},
};

const HashForms* portable_forms = &kPortableForms;
const HashForms* fast_forms = &kFastForms;

const HashForms& hash_forms(int32_t fast) {
    return fast == 1 ? *fast_forms : *portable_forms;
}

void install_haraka_forms(int32_t fast) {
    const HashForms& forms = hash_forms(fast);
    haraka512_fn = forms.haraka512;
    haraka512_rc_fn = forms.haraka512_rc;
    haraka256_fn = forms.haraka256;
}

void install_nonce_path(int32_t fast, int32_t flight, int32_t flight512) {
    nonce_path = fast != 1        ? &kFinalizePath
                 : flight != 1    ? &kLanesPath
                 : flight512 == 1 ? &kFlightAvx512Path
                                  : &kFlightPath;
}

void fall_back_to_portable_forms() {
    fast_hash_support = 0;
    nonce_flight_support = 0;
    nonce_flight_avx512_support = 0;
    install_haraka_forms(0);
    install_nonce_path(0, 0);
}

void select_haraka_implementations() {
    const int32_t fast = probe_fast_hash_support();
    install_haraka_forms(fast);
    const int32_t flight = fast == 1 ? probe_nonce_flight_support() : 0;
    install_nonce_path(fast, flight, flight == 1 ? probe_nonce_flight_avx512_support() : 0);
}
