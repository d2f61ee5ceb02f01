// Tests that install other forms, nonce paths or probe answers put the process's own choice
// back with this guard, so that later tests in the same process run on what the probes chose.
// The probes only return their cached answers, so calling one again restores nothing.
#pragma once

#include <cstdint>

#include "crypto/cpu_dispatch.h"

// DispatchGuard saves every probe answer and implementation slot at construction and puts
// them back at destruction.
class DispatchGuard {
  public:
    DispatchGuard() = default;
    DispatchGuard(const DispatchGuard&) = delete;
    DispatchGuard& operator=(const DispatchGuard&) = delete;
    ~DispatchGuard() {
        fast_hash_support = fast_;
        nonce_flight_support = flight_;
        nonce_flight_avx512_support = flight512_;
        portable_forms = portable_forms_;
        fast_forms = fast_forms_;
        haraka256_fn = haraka256_;
        haraka512_fn = haraka512_;
        haraka512_rc_fn = haraka512_rc_;
        nonce_path = nonce_path_;
        cpuid_fn = cpuid_;
        xgetbv_fn = xgetbv_;
    }

  private:
    const int32_t fast_ = fast_hash_support;
    const int32_t flight_ = nonce_flight_support;
    const int32_t flight512_ = nonce_flight_avx512_support;
    const HashForms* const portable_forms_ = portable_forms;
    const HashForms* const fast_forms_ = fast_forms;
    const haraka256_fn_t haraka256_ = haraka256_fn;
    const haraka512_fn_t haraka512_ = haraka512_fn;
    const haraka512_rc_fn_t haraka512_rc_ = haraka512_rc_fn;
    const NoncePath* const nonce_path_ = nonce_path;
    const cpuid_fn_t cpuid_ = cpuid_fn;
    const xgetbv_fn_t xgetbv_ = xgetbv_fn;
};
