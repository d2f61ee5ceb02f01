#include "crypto/hasher/hash_forms.h"

const HashForms kPortableForms = {
    "portable",
    0,
    haraka256_hash_portable,
    haraka512_hash_portable,
    haraka512_hash_rc_portable,
    {keyed_mix64_a_portable, keyed_mix64_b_portable, keyed_mix64_c_portable},
    {keyed_mix128_a_portable, keyed_mix128_b_portable, keyed_mix128_c_portable},
};

const HashForms kFastForms = {
    "fast",
    1,
    haraka256_hash_fast,
    haraka512_hash_fast,
    haraka512_hash_rc_fast,
    {keyed_mix64_a_fast, keyed_mix64_b_fast, keyed_mix64_c_fast},
    {keyed_mix128_a_fast, keyed_mix128_b_fast, keyed_mix128_c_fast},
};

const HashForms* forms_by_answer[2] = {&kPortableForms, &kFastForms};

const HashForms& hash_forms_for(int32_t fast) {
    return *forms_by_answer[fast == 1 ? 1 : 0];
}

haraka256_fn_t haraka256_fn = haraka256_hash_portable;
haraka512_fn_t haraka512_fn = haraka512_hash_portable;
haraka512_rc_fn_t haraka512_rc_fn = haraka512_hash_rc_portable;

void install_haraka_forms(const HashForms& forms) {
    haraka512_fn = forms.haraka512;
    haraka512_rc_fn = forms.haraka512_rc;
    haraka256_fn = forms.haraka256;
}

bool runs_variant_c(keyed_mix64_fn mix64) {
    return mix64 == keyed_mix64_c_fast || mix64 == keyed_mix64_c_portable;
}
