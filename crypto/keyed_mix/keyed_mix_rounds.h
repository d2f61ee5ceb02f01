// The keyed mixing iterations, written once over a handful of block primitives. Each form
// includes this header and instantiates keyed_mix_rounds with its own primitive struct.
//
// A primitive struct Ops supplies:
//   block                       the 128-bit value type
//   load(p) / store(p, v)       aligned 16-byte entry access
//   xor_(a, b), cl(x), mh(a, b), aes(x, k), lo32(x, y), hi32(x, y)
//   low64(x)                    bytes 0..7 as an unsigned value
//   xor_low32(acc, v)           acc with bits 0..31 XORed with v
//   start(key, mask), entry_r(key, sel, mask), entry_x(key, sel, mask)
//                               the entries the accumulator starts from and each
//                               iteration picks
#pragma once

#include <cstdint>

#include "crypto/base/bytes.h"
#include "crypto/base/vec128.h"
#include "crypto/keyed_mix/mix_cases.h"

template <class Ops, mix_variant V>
ZANTU_INLINE typename Ops::block keyed_mix_rounds(vec128* key, const vec128* block,
                                                  uint64_t keyIndexMask, vec128** touch) {
    using B = typename Ops::block;
    assert(is_aligned(key, 32) && is_aligned(block, 16));

    // Variant A reads the caller's block in place; B and C fold the halves into a copy.
    alignas(16) vec128 copy[4];
    const vec128* w = block;
    if (V != mix_variant::a) {
        const B s0 = Ops::load(block), s1 = Ops::load(block + 1);
        const B s2 = Ops::load(block + 2), s3 = Ops::load(block + 3);
        Ops::store(copy, Ops::xor_(s0, s2));
        Ops::store(copy + 1, Ops::xor_(s1, s3));
        Ops::store(copy + 2, s2);
        Ops::store(copy + 3, s3);
        w = copy;
    }

    B acc = Ops::load(Ops::start(key, keyIndexMask));
    for (int i = 0; i < 32; ++i) {
        const uint64_t sel = Ops::low64(acc);
        vec128* const kr = Ops::entry_r(key, sel, keyIndexMask);
        vec128* const kx = Ops::entry_x(key, sel, keyIndexMask);
        touch[2 * i] = kr;
        touch[2 * i + 1] = kx;
        const B p = Ops::load(w + (sel & 3));
        const B q = Ops::load(w + ((sel & 3) ^ 1));
        const B t1 = Ops::load(kx);
        const B t2 = Ops::load(kr);

        switch (mix_case_of(sel)) {
        case 0x00:
            acc = Ops::xor_(acc, Ops::cl(Ops::xor_(q, t1)));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            acc = Ops::xor_(acc, Ops::cl(Ops::xor_(p, t2)));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            break;
        case 0x04:
            acc = Ops::xor_(acc, Ops::xor_(Ops::cl(p), Ops::cl(Ops::xor_(p, t2))));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            acc = Ops::xor_(acc, Ops::xor_(q, t1));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            break;
        case 0x08:
            acc = Ops::xor_(acc, Ops::xor_(p, t1));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            acc = Ops::xor_(acc, Ops::xor_(Ops::cl(q), Ops::cl(Ops::xor_(q, t2))));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            break;
        case 0x0c: {
            acc = Ops::xor_(acc, Ops::xor_(q, t2));
            const int64_t d = dividend_of(Ops::low64(acc));
            acc = Ops::xor_low32(acc, rem_low32(d, divisor_of(sel)));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            if (d & 1) {
                acc = Ops::xor_(acc, Ops::xor_(Ops::cl(p), Ops::cl(Ops::xor_(p, t1))));
                Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            } else {
                Ops::store(kr, t1);
                if (V == mix_variant::c) acc = Ops::xor_(acc, p);
            }
            break;
        }
        case 0x10:
            acc = Ops::xor_(acc, aes_case_10<Ops>(reinterpret_cast<const char*>(kr), q, p));
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            Ops::store(kr, t1);
            break;
        case 0x14: {
            const vec128* c = kr;
            int o = 0;
            for (int n = static_cast<int>(mix_last_round_of(sel)); n >= 0; --n) {
                const B k = Ops::load(c);
                ++c;
                const bool odd = (n & 1) != 0;
                if (aes_loop_takes_clmul<V>(sel, static_cast<unsigned>(n))) {
                    acc = Ops::xor_(acc, Ops::cl(Ops::xor_(k, odd ? p : q)));
                } else {
                    // The round keys start right after the entry just read.
                    B x = Ops::aes(k, Ops::load(c + o));
                    B y = Ops::aes(odd ? q : p, Ops::load(c + o + 1));
                    x = Ops::aes(x, Ops::load(c + o + 2));
                    y = Ops::aes(y, Ops::load(c + o + 3));
                    acc = Ops::xor_(acc, Ops::xor_(Ops::lo32(x, y), Ops::hi32(x, y)));
                    o += 4;
                }
            }
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            Ops::store(kr, t1);
            break;
        }
        case 0x18: {
            if (V == mix_variant::a) {
                acc = Ops::xor_(acc, Ops::cl(Ops::xor_(q, t2)));
                Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
                Ops::store(kr, t1);
                break;
            }
            const int64_t dv = divisor_of(sel);
            const vec128* c = kr;
            B k = t2;
            for (int n = static_cast<int>(mix_last_round_of(sel)); n >= 0; --n) {
                k = Ops::load(c);
                ++c;
                const bool odd = (n & 1) != 0;
                if (mix_round_test(sel, n)) {
                    const B kd = Ops::xor_(k, odd ? p : q);
                    acc = Ops::xor_low32(acc, rem_low32(dividend_of(Ops::low64(kd)), dv));
                    if (V == mix_variant::c) k = kd;
                } else {
                    const B km = Ops::cl(Ops::xor_(k, odd ? q : p));
                    acc = Ops::xor_(acc, Ops::mh(acc, km));
                    if (V == mix_variant::c) k = km;
                }
            }
            // The loop only reads, so t1 still holds K[X].
            if (V == mix_variant::c) {
                Ops::store(kx, k);
                Ops::store(kr, Ops::xor_(t1, acc));
            } else {
                Ops::store(kx, Ops::xor_(t1, acc));
                Ops::store(kr, k);
            }
            break;
        }
        case 0x1c:
            acc = Ops::xor_(acc, Ops::cl(Ops::xor_(p, t1)));
            Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
            acc = Ops::xor_(acc, V == mix_variant::c ? Ops::xor_(q, t2) : t2);
            Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
            break;
        }
    }
    return acc;
}

// KEYED_MIX_FORM(form, Ops) defines keyed_mix128_{a,b,c}_<form> and keyed_mix64_{a,b,c}_<form>
// of crypto/keyed_mix/keyed_mix.h over Ops, which also supplies to_vec128(block), the result
// as the interface's type, and reduce64(block), the final reduction.
#define KEYED_MIX_FORM(form, Ops)                                                                  \
    KEYED_MIX_VARIANT(a, form, Ops)                                                                \
    KEYED_MIX_VARIANT(b, form, Ops)                                                                \
    KEYED_MIX_VARIANT(c, form, Ops)
#define KEYED_MIX_VARIANT(letter, form, Ops)                                                       \
    vec128 keyed_mix128_##letter##_##form(vec128* key, const vec128* block, uint64_t keyIndexMask, \
                                          vec128** touch) {                                        \
        return Ops::to_vec128(                                                                     \
            keyed_mix_rounds<Ops, mix_variant::letter>(key, block, keyIndexMask, touch));          \
    }                                                                                              \
    uint64_t keyed_mix64_##letter##_##form(vec128* key, const vec128* block,                       \
                                           uint64_t keyIndexMask, vec128** touch) {                \
        return Ops::reduce64(                                                                      \
            keyed_mix_rounds<Ops, mix_variant::letter>(key, block, keyIndexMask, touch));          \
    }
