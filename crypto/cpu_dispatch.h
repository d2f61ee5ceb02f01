// The processor probes and every slot that holds an implementation choice: the Haraka forms
// and the nonce path. Written at start-up only.
#pragma once

#include <cstdint>

#include "crypto/keyed_mix.h"
#include "crypto/nonce_scan.h"

using haraka256_fn_t = void (*)(uint8_t* out, const uint8_t* in);
using haraka512_fn_t = void (*)(uint8_t* out, const uint8_t* in);
using haraka512_rc_fn_t = void (*)(uint8_t* out, const uint8_t* in, const uint8_t* rc);

// fast_hash_support: 0x80 until probed, then 1 for the fast forms or 0 for the portable ones.
// Read it through its probe, or test it for 1 only (as the guards of the fast paths do), so
// that the not-probed value always means the portable forms. Tests write it to stand in for
// other processors.
extern int32_t fast_hash_support;

// nonce_flight_support: 0x80 until probed, then 1 when the in-flight nonce path can run;
// nonce_flight_avx512_support likewise for its AVX-512 form.
extern int32_t nonce_flight_support;
extern int32_t nonce_flight_avx512_support;

// haraka256_fn, haraka512_fn, haraka512_rc_fn: the installed forms; the portable ones, which
// every processor runs, until the selection upgrades them. Callers pass |in| (and |rc|)
// 16-byte aligned whichever form is installed, as the fast forms need it.
extern haraka256_fn_t haraka256_fn;
extern haraka512_fn_t haraka512_fn;
extern haraka512_rc_fn_t haraka512_rc_fn;

// nonce_path: the nonce path of the search; the Finalize loop, which every processor runs,
// until the selection upgrades it.
extern const NoncePath* nonce_path;

// HashForms: one form of every hash operation; the selection installs one set whole.
struct HashForms {
    const char* name;
    haraka256_fn_t haraka256;
    haraka512_fn_t haraka512;
    haraka512_rc_fn_t haraka512_rc;
    keyed_mix64_fn mix64[3]; // variants A, B, C
    keyed_mix128_fn mix128[3];
};

// kPortableForms, kFastForms: the plain integer forms and the AES-NI/PCLMULQDQ forms.
extern const HashForms kPortableForms;
extern const HashForms kFastForms;

// portable_forms, fast_forms: the sets that the probe's answers 0 and 1 select. Replaceable
// so that tests can stand in for forms that compute wrong.
extern const HashForms* portable_forms;
extern const HashForms* fast_forms;

// hash_forms returns the set for the probe answer |fast| (1: fast, else portable).
const HashForms& hash_forms(int32_t fast);

// fast_hash_decision returns 1 when CPUID reports a basic leaf 1 whose ECX has
// PCLMULQDQ, AES and AVX (mask 0x12000002), else 0.
int32_t fast_hash_decision(uint32_t max_basic_leaf, uint32_t leaf1_ecx);

// CpuFeatures: the CPUID words and the operating system's register state that the in-flight
// path depends on; xcr0 is 0 when the operating system does not offer XGETBV.
struct CpuFeatures {
    uint32_t max_basic_leaf;
    uint32_t leaf1_ecx;
    uint32_t leaf7_ebx;
    uint32_t leaf7_ecx;
    uint64_t xcr0;
};

// nonce_flight_decision returns 1 when the fast forms run and the processor also has POPCNT,
// AVX2, BMI1, BMI2, VAES and VPCLMULQDQ, and the operating system saves the 256-bit registers
// (XCR0 bits 1 and 2), else 0.
int32_t nonce_flight_decision(const CpuFeatures& features);

// nonce_flight_avx512_decision returns 1 when nonce_flight_decision does and the processor
// also has AVX-512 F, DQ, BW and VL, and the operating system saves the mask registers and
// all 512-bit register state (XCR0 bits 5, 6, 7), else 0.
int32_t nonce_flight_avx512_decision(const CpuFeatures& features);

// probe_fast_hash_support returns the cached answer, running CPUID on first use only.
int32_t probe_fast_hash_support();

// probe_nonce_flight_support returns the cached answer for the in-flight path, running CPUID
// (leaves 0, 1 and 7) and XGETBV (only when CPUID reports OSXSAVE) on first use only;
// probe_nonce_flight_avx512_support likewise for its AVX-512 form.
int32_t probe_nonce_flight_support();
int32_t probe_nonce_flight_avx512_support();

// select_haraka_implementations probes, then installs all fast or all portable forms and the
// best nonce path for them.
void select_haraka_implementations();

// install_haraka_forms installs the Haraka operations of hash_forms(|fast|).
void install_haraka_forms(int32_t fast);

// fall_back_to_portable_forms makes the process run as if the probes had found no fast
// instructions: answers 0, the portable Haraka forms and the Finalize path. A hasher already
// built keeps its mixing until its SelectMixing runs again.
void fall_back_to_portable_forms();

// install_nonce_path installs the in-flight path when |fast| and |flight| are 1 (its AVX-512
// form when |flight512| is 1 as well), the two-lane path when only |fast| is, else the
// Finalize loop.
void install_nonce_path(int32_t fast, int32_t flight, int32_t flight512 = 0);

// cpuid_fn executes CPUID for a leaf and subleaf, giving EAX, EBX, ECX, EDX in regs; xgetbv_fn
// reads an extended control register. Replaceable so that tests can stand in for processors
// and operating systems they do not run on.
using cpuid_fn_t = void (*)(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);
using xgetbv_fn_t = uint64_t (*)(uint32_t xcr);
extern cpuid_fn_t cpuid_fn;
extern xgetbv_fn_t xgetbv_fn;
