// The Haraka known answers, written once for the form tests, the selection test and the probe
// report that runs on emulated processors.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/hasher/hash_forms.h"
#include "tests/support/hex.h"

enum class HarakaOp { h256, h512, h512_rc };

// HarakaAnswer: one operation on input bytes 0, 1, ..., 63 (counting) or on zeros, under the
// standard constant table or an all-zero one, and its digest: all of it, or bytes 24..31 of
// the keyed form, the only ones it writes.
struct HarakaAnswer {
    HarakaOp op;
    bool counting;
    bool standard_table;
    const char* hex;
};

inline constexpr HarakaAnswer kHarakaAnswers[] = {
    {HarakaOp::h256, true, true,
     "8027ccb87949774b78d0545fb72bf70c695c2a0923cbd47bba1159efbf2b2c1c"},
    {HarakaOp::h256, false, true,
     "583066c7dd645eee22980f3c35971b702973d03a029eb246eb44eceb4a4f5863"},
    {HarakaOp::h512, true, true,
     "be7f723b4e80a99813b292287f306f625a6d57331cae5f34dd9277b0945be2aa"},
    {HarakaOp::h512, false, true,
     "6165454b61dae9b53d086b1a01d6764a911b2a4707cd23640ab148b3db65caf3"},
    {HarakaOp::h512_rc, true, true, "dd9277b0945be2aa"},
    {HarakaOp::h512_rc, true, false, "f16c7d3ac7668418"},
};

// kKeyedCountingAnswer: the keyed form on the counting input under the standard table.
inline constexpr const char* kKeyedCountingAnswer = kHarakaAnswers[4].hex;

// haraka_answer_fault runs every known answer through |h256|, |h512| and |h512_rc| (any forms,
// each runnable here) and returns the first that differs, as text, or an empty text.
inline std::string haraka_answer_fault(haraka256_fn_t h256, haraka512_fn_t h512,
                                       haraka512_rc_fn_t h512_rc) {
    alignas(16) static const uint8_t kZeroTable[640] = {};
    for (const HarakaAnswer& a : kHarakaAnswers) {
        alignas(16) uint8_t in[64];
        for (int i = 0; i < 64; ++i)
            in[i] = a.counting ? static_cast<uint8_t>(i) : 0;
        uint8_t out[32] = {};
        std::string got;
        if (a.op == HarakaOp::h256) {
            h256(out, in);
            got = to_hex(out, 32);
        } else if (a.op == HarakaOp::h512) {
            h512(out, in);
            got = to_hex(out, 32);
        } else {
            h512_rc(out, in, a.standard_table ? HARAKA_RC : kZeroTable);
            got = to_hex(out + 24, 8);
        }
        if (got != a.hex)
            return "operation " + std::to_string(static_cast<int>(a.op)) +
                   (a.counting ? ", counting input" : ", zero input") +
                   (a.standard_table ? "" : ", zero table") + ": " + got + ", not " + a.hex;
    }
    return "";
}
