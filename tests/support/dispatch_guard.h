// Tests that install other forms, nonce paths or probe answers put the process's own choice
// back with this guard, so that later tests in the same process run on what start-up chose.
// The probe only returns its cached answer, so calling it again restores nothing.
#pragma once

#include <cstdint>

#include "crypto/selection.h"

// DispatchGuard saves the installed selection and puts it back (with the slots and
// fast_hash_support filled from it) at destruction.
class DispatchGuard {
  public:
    DispatchGuard() = default;
    DispatchGuard(const DispatchGuard&) = delete;
    DispatchGuard& operator=(const DispatchGuard&) = delete;
    ~DispatchGuard() { install_selection(saved_); }

  private:
    const Selection saved_ = selection;
};

// install_forms installs the forms of probe answer |fast| with the Finalize loop, as a
// processor with or without the fast instructions would run them one nonce at a time.
inline void install_forms(int32_t fast) {
    install_selection({&hash_forms_for(fast), &kFinalizePath, batch_size_for(fast)});
}
