// The nonce paths' kernels, reached through the path records of crypto/nonce/paths.cpp. Each
// runs the instructions its path's decision checks: call one only where that decision is 1.
// Their contracts are those of nonce_scan_fn_t and nonce_words_fn_t; reserve makes the
// calling thread's working memory and returns false when it cannot be had.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/nonce/nonce_path.h"

// The Finalize loop (crypto/nonce/finalize_path.cpp): every form, every variant.
uint32_t finalize_scan(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count, uint64_t target,
                       const NonceScanSink& sink);
bool finalize_words(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words);

// The two-lane path (crypto/nonce/lanes_kernel.cpp, over its architecture's lanes form).
uint32_t lanes_scan(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count, uint64_t target,
                    const NonceScanSink& sink);
bool lanes_words(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words);
bool lanes_reserve();
extern const size_t kLanesWorkingBytes;

// The in-flight path's forms (crypto/nonce/flight_<form>.cpp), which hash kFlightGroup nonces
// together.
constexpr uint32_t kFlightGroup = 64;
#define FLIGHT_KERNEL_DECLARATIONS(form)                                                           \
    uint32_t flight_scan_##form(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,         \
                                uint64_t target, const NonceScanSink& sink);                       \
    bool flight_words_##form(CZantuHashV2& hasher, uint32_t first, uint32_t count,                 \
                             uint64_t* words);                                                     \
    bool flight_reserve_##form();                                                                  \
    extern const size_t kFlightWorkingBytes_##form;
#if defined(__x86_64__)
FLIGHT_KERNEL_DECLARATIONS(128)
FLIGHT_KERNEL_DECLARATIONS(avx2)
FLIGHT_KERNEL_DECLARATIONS(avx512)
#elif defined(__aarch64__)
FLIGHT_KERNEL_DECLARATIONS(arm64)
#endif
