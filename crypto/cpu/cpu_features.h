// What the processor offers the hash forms and nonce paths, read through replaceable seams,
// and the decisions taken from it. Nothing here installs anything: the selection does.
#pragma once

#include <cstdint>

#if defined(__x86_64__)

// CpuFeatures: the CPUID words and the operating system's register state that the forms
// depend on; xcr0 is 0 when the operating system does not offer XGETBV.
struct CpuFeatures {
    uint32_t max_basic_leaf;
    uint32_t leaf1_ecx;
    uint32_t leaf7_ebx;
    uint32_t leaf7_ecx;
    uint64_t xcr0;
};

// cpuid_fn executes CPUID for a leaf and subleaf, giving EAX, EBX, ECX, EDX in regs; xgetbv_fn
// reads an extended control register. Replaceable so that tests can stand in for processors
// and operating systems they do not run on.
using cpuid_fn_t = void (*)(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);
using xgetbv_fn_t = uint64_t (*)(uint32_t xcr);
extern cpuid_fn_t cpuid_fn;
extern xgetbv_fn_t xgetbv_fn;

// flight128_decision returns 1 when the fast forms run (AES, PCLMULQDQ and AVX) and the
// operating system saves the AVX register state (OSXSAVE, and XCR0 bits 1 and 2), else 0: the
// in-flight path's 128-bit form runs those instructions in their VEX encoding, which faults
// where the system has not enabled it. It needs nothing from leaf 7.
int32_t flight128_decision(const CpuFeatures& features);

// flight_avx2_decision returns 1 when the fast forms run and the processor also has POPCNT,
// AVX2, BMI1, BMI2, VAES and VPCLMULQDQ, and the operating system saves the 256-bit registers
// (XCR0 bits 1 and 2), else 0.
int32_t flight_avx2_decision(const CpuFeatures& features);

// flight_avx512_decision returns 1 when flight_avx2_decision does and the processor also has
// AVX-512 F, DQ, BW and VL, and the operating system saves the mask registers and all 512-bit
// register state (XCR0 bits 5, 6, 7), else 0.
int32_t flight_avx512_decision(const CpuFeatures& features);

#elif defined(__aarch64__)

// CpuFeatures: the kernel's hardware capability word (AT_HWCAP).
struct CpuFeatures {
    uint64_t hwcap;
};

// hwcap_fn reads AT_HWCAP; replaceable so that tests can stand in for cores without the
// crypto extensions, which every emulated model has.
using hwcap_fn_t = uint64_t (*)();
extern hwcap_fn_t hwcap_fn;

#endif

// kNotProbed: fast_hash_support's value until the first probe.
constexpr int32_t kNotProbed = 0x80;

// fast_hash_support: kNotProbed until probed, then 1 for the fast forms or 0 for the portable
// ones. Read it through probe_fast_hash_support, or test it for 1 only, so that the
// not-probed value always means the portable forms.
extern int32_t fast_hash_support;

// read_fast_hash_features reads only what fast_hash_decision looks at (x86: CPUID leaf 0,
// then leaf 1 unless leaf 0 reports none; aarch64: AT_HWCAP).
CpuFeatures read_fast_hash_features();

// read_cpu_features reads everything the decisions here look at (x86: CPUID leaves 0, 1 and
// 7, and XGETBV only when CPUID reports OSXSAVE; aarch64: AT_HWCAP).
CpuFeatures read_cpu_features();

// fast_hash_decision returns 1 when the processor has the fast forms' instructions (x86:
// leaf-1 ECX has PCLMULQDQ, AES and AVX, mask 0x12000002; aarch64: AES and PMULL), else 0.
int32_t fast_hash_decision(const CpuFeatures& features);

// probe_fast_hash_support returns the cached answer, reading the processor on first use only.
int32_t probe_fast_hash_support();
