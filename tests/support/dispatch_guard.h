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

// install_forms installs |forms| with the Finalize loop and their batch size, as a processor
// with or without the fast instructions would run them one nonce at a time.
inline void install_forms(const HashForms& forms) {
    install_selection({&forms, &kFinalizePath, batch_size_for(forms.probe_answer)});
}
