#include "crypto/selection.h"

Selection selection = {&kPortableForms, &kFinalizePath, 0x80000};

uint64_t batch_size_for(int32_t fast) {
    return fast == 1 ? 0x200000 : 0x80000;
}

namespace {

// selection_for returns the choice for the probe answer |fast| on a processor with |features|:
// the forms that answer selects, the best nonce path for them (whose working memory the
// calling thread then has) and the answer's batch size.
Selection selection_for(int32_t fast, const CpuFeatures& features) {
    return {&hash_forms_for(fast), &best_nonce_path(features, fast), batch_size_for(fast)};
}

} // namespace

void install_selection(const Selection& s) {
    selection = s;
    fast_hash_support = s.forms->probe_answer;
    install_haraka_forms(*s.forms);
}

void select_haraka_implementations() {
    const int32_t fast = probe_fast_hash_support();
    install_selection(selection_for(fast, read_cpu_features()));
}

void fall_back_to_portable_forms() {
    install_selection(selection_for(0, CpuFeatures{}));
}
