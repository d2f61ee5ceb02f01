#include "crypto/hasher/hash_forms.h"

// Each record names its form's operations, which carry the form in their names.
#define HASH_FORMS(form, answer)                                                                   \
    {                                                                                              \
        #form, answer, haraka256_hash_##form, haraka512_hash_##form, haraka512_hash_rc_##form,     \
            {keyed_mix64_a_##form, keyed_mix64_b_##form, keyed_mix64_c_##form},                    \
            {keyed_mix128_a_##form, keyed_mix128_b_##form, keyed_mix128_c_##form},                 \
    }
const HashForms kPortableForms = HASH_FORMS(portable, 0);
const HashForms kFastForms = HASH_FORMS(fast, 1);
#undef HASH_FORMS

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
