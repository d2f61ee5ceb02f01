// The hash forms as records, and the three Haraka slots that every caller goes through.
#pragma once

#include <cstdint>

#include "crypto/haraka/haraka.h"
#include "crypto/keyed_mix/keyed_mix.h"

using haraka256_fn_t = void (*)(uint8_t* out, const uint8_t* in);
using haraka512_fn_t = void (*)(uint8_t* out, const uint8_t* in);
using haraka512_rc_fn_t = void (*)(uint8_t* out, const uint8_t* in, const uint8_t* rc);

// HashForms: one form of every hash operation; installed whole, never mixed with another.
struct HashForms {
    const char* name;
    int32_t probe_answer; // the fast_hash_support value these forms stand for
    haraka256_fn_t haraka256;
    haraka512_fn_t haraka512;
    haraka512_rc_fn_t haraka512_rc;
    keyed_mix64_fn mix64[3]; // variants A, B, C
    keyed_mix128_fn mix128[3];
};

// kPortableForms, kFastForms: the plain integer forms and this architecture's fast forms.
extern const HashForms kPortableForms;
extern const HashForms kFastForms;

// forms_by_answer: the forms that the probe answers 0 and 1 select. Replaceable so that
// tests can stand in for forms that compute wrong.
extern const HashForms* forms_by_answer[2];

// hash_forms_for returns the forms for the probe answer |fast| (1: fast, else portable).
const HashForms& hash_forms_for(int32_t fast);

// haraka256_fn, haraka512_fn, haraka512_rc_fn: the installed forms; the portable ones, which
// every processor runs, until the selection installs others. Callers pass |in| (and |rc|)
// 16-byte aligned whichever form is installed, as the fast forms need it.
extern haraka256_fn_t haraka256_fn;
extern haraka512_fn_t haraka512_fn;
extern haraka512_rc_fn_t haraka512_rc_fn;

// install_haraka_forms points the three slots at |forms|' Haraka operations.
void install_haraka_forms(const HashForms& forms);

// runs_variant_c tells whether |mix64| is variant C's mixing in either form: the mixing that
// the multi-nonce paths compute.
bool runs_variant_c(keyed_mix64_fn mix64);
