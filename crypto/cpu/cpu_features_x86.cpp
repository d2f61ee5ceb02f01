// x86-64: CPUID and XGETBV, and the decisions over their words.
#include <cpuid.h>

#include "crypto/cpu/cpu_features.h"

namespace {

constexpr uint32_t kFastFeatureMask = 0x12000002; // PCLMULQDQ | AES | AVX in leaf-1 ECX
constexpr uint32_t kPopcnt = 1u << 23;            // leaf-1 ECX
constexpr uint32_t kOsxsave = 1u << 27;           // leaf-1 ECX: XGETBV is usable
constexpr uint32_t kFlightEbxMask =
    (1u << 3) | (1u << 5) | (1u << 8);                      // leaf-7 EBX: BMI1, AVX2, BMI2
constexpr uint32_t kFlightEcxMask = (1u << 9) | (1u << 10); // leaf-7 ECX: VAES, VPCLMULQDQ
constexpr uint64_t kYmmXcr0Mask = (1u << 1) | (1u << 2);    // XCR0: SSE and AVX state
// Leaf-7 EBX: AVX-512 F, DQ, BW, VL; XCR0: the opmask registers and all 512-bit state.
constexpr uint32_t kAvx512EbxMask = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
constexpr uint64_t kAvx512Xcr0Mask = (1u << 5) | (1u << 6) | (1u << 7);

void cpuid_native(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
    __cpuid_count(leaf, subleaf, regs[0], regs[1], regs[2], regs[3]);
}

uint64_t xgetbv_native(uint32_t xcr) {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(xcr));
    return uint64_t{hi} << 32 | lo;
}

} // namespace

cpuid_fn_t cpuid_fn = cpuid_native;
xgetbv_fn_t xgetbv_fn = xgetbv_native;

CpuFeatures read_fast_hash_features() {
    CpuFeatures f{};
    uint32_t regs[4] = {};
    cpuid_fn(0, 0, regs);
    f.max_basic_leaf = regs[0];
    // Leaf 1 is not queried on a processor that reports none.
    if (f.max_basic_leaf != 0) {
        cpuid_fn(1, 0, regs);
        f.leaf1_ecx = regs[2];
    }
    return f;
}

CpuFeatures read_cpu_features() {
    CpuFeatures f = read_fast_hash_features();
    uint32_t regs[4] = {};
    if (f.max_basic_leaf >= 7) {
        cpuid_fn(7, 0, regs);
        f.leaf7_ebx = regs[1];
        f.leaf7_ecx = regs[2];
    }
    // XGETBV faults unless the operating system has enabled it.
    if (f.leaf1_ecx & kOsxsave) f.xcr0 = xgetbv_fn(0);
    return f;
}

int32_t fast_hash_decision(const CpuFeatures& f) {
    if (f.max_basic_leaf == 0) return 0;
    return (f.leaf1_ecx & kFastFeatureMask) == kFastFeatureMask ? 1 : 0;
}

int32_t flight128_decision(const CpuFeatures& f) {
    return fast_hash_decision(f) == 1 && (f.leaf1_ecx & kOsxsave) &&
                   (f.xcr0 & kYmmXcr0Mask) == kYmmXcr0Mask
               ? 1
               : 0;
}

int32_t flight_avx2_decision(const CpuFeatures& f) {
    return fast_hash_decision(f) == 1 && f.max_basic_leaf >= 7 && (f.leaf1_ecx & kOsxsave) &&
                   (f.leaf1_ecx & kPopcnt) && (f.leaf7_ebx & kFlightEbxMask) == kFlightEbxMask &&
                   (f.leaf7_ecx & kFlightEcxMask) == kFlightEcxMask &&
                   (f.xcr0 & kYmmXcr0Mask) == kYmmXcr0Mask
               ? 1
               : 0;
}

int32_t flight_avx512_decision(const CpuFeatures& f) {
    return flight_avx2_decision(f) == 1 && (f.leaf7_ebx & kAvx512EbxMask) == kAvx512EbxMask &&
                   (f.xcr0 & kAvx512Xcr0Mask) == kAvx512Xcr0Mask
               ? 1
               : 0;
}
