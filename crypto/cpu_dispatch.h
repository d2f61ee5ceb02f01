// The one processor probe and the Haraka dispatch slots it fills.
#pragma once

#include <cstdint>

using haraka256_fn_t = void (*)(uint8_t* out, const uint8_t* in);
using haraka512_fn_t = void (*)(uint8_t* out, const uint8_t* in);
using haraka512_rc_fn_t = void (*)(uint8_t* out, const uint8_t* in, const uint8_t* rc);

// fast_hash_support: 0x80 until probed, then 1 for the fast forms or 0 for the portable ones.
extern int32_t fast_hash_support;

// haraka256_fn, haraka512_fn, haraka512_rc_fn: the installed forms; null until selected.
extern haraka256_fn_t haraka256_fn;
extern haraka512_fn_t haraka512_fn;
extern haraka512_rc_fn_t haraka512_rc_fn;

// fast_hash_decision returns 1 when CPUID reports a basic leaf 1 whose ECX has
// PCLMULQDQ, AES and AVX (mask 0x12000002), else 0.
int32_t fast_hash_decision(uint32_t max_basic_leaf, uint32_t leaf1_ecx);

// probe_fast_hash_support returns the cached answer, running CPUID on first use only.
int32_t probe_fast_hash_support();

// select_haraka_implementations probes, then installs all fast or all portable forms
// together with their working constant table.
void select_haraka_implementations();

// install_haraka_forms installs the fast forms when |fast| is 1, else the portable ones.
void install_haraka_forms(int32_t fast);

// cpuid_fn executes CPUID for a leaf, giving EAX and ECX; replaceable so that tests can
// stand in for processors they do not run on.
using cpuid_fn_t = void (*)(uint32_t leaf, uint32_t* eax, uint32_t* ecx);
extern cpuid_fn_t cpuid_fn;
