// The two-lane path, written once over the block primitives of a fast form: variant C's
// mixing, reduction and keyed Haraka-512/256 for several nonces in flight on one thread.
// Measured on the target machines, the mixing is bound by the mispredicted case dispatch (an
// indirect jump costs about 25 cycles there) and by the accumulator's dependency chain, so:
// the looped cases run their rounds without branches, each (case, round count) pair being one
// target of the single dispatch; the two arms of case 0x0c are blended; and each lane's next
// selector, picks and loads are issued right after its own case, ahead of the other lane's
// dispatch, so that a lane's chain keeps running while the other lane's dispatch is being
// repaired. That head also loads its case's code address, which the lane's jump then reads
// directly: a jump that still had to look up its table when it issued resolved that much
// later, after each misprediction. With ZANTU_PLAIN_SWITCH a plain switch over the same
// targets stands in for the computed jump, for the tests.
//
// Include only from a form's file, after that form's primitive struct (the interface of
// FastOps in crypto/keyed_mix/ops_x86.h); LANES_FORM then defines NonceLanes' members over it.
// One form per architecture is built, so its definitions never meet another's.
#pragma once

#include <cstring>

#include "crypto/base/bytes.h"
#include "crypto/base/layout.h"
#include "crypto/keyed_mix/mix_cases.h"
#include "crypto/nonce/lanes.h"
#include "crypto/nonce/nonce_block.h"
#include "crypto/zantu_hash.h"

namespace lanes_impl {

template <class Ops> ZANTU_INLINE typename Ops::block at(const char* base, uint64_t byte_offset) {
    return Ops::load(base + byte_offset);
}

// One lane's per-nonce state outside the accumulator.
template <class Ops> struct Lane {
    using B = typename Ops::block;
    char* key;       // the lane's key copy
    const B* w;      // working blocks W[0..3]
    const B* clw;    // CL(W[j])
    uint32_t* touch; // per iteration: byte offsets of K[R] (low half) and K[X] (high half)
};

// The round test of the looped cases as a full-width mask.
template <class Ops> ZANTU_INLINE typename Ops::block round_mask(uint64_t sel, int n) {
    return Ops::bit_mask(mix_round_test(sel, n));
}

// Case 0x14 with Rounds rounds. The rounds do not read acc, so they all run side by side;
// each computes both arms and keeps one. The AES round keys of round m start right after
// its entry, past the keys of the AES rounds before it.
template <class Ops, int Rounds>
ZANTU_INLINE typename Ops::block case_14(const char* kr, uint64_t sel, typename Ops::block p,
                                         typename Ops::block q, typename Ops::block acc) {
    using B = typename Ops::block;
    B sum = Ops::zero();
    uint64_t o = 16;
#pragma GCC unroll 8
    for (int m = 0; m < Rounds; ++m) {
        const int n = Rounds - 1 - m;
        const bool odd = (n & 1) != 0;
        const B k = at<Ops>(kr, 16 * m);
        const B by_cl = Ops::cl(Ops::xor_(k, odd ? p : q));
        const char* rk = kr + 16 * m + o;
        B x = Ops::aes(k, at<Ops>(rk, 0));
        B y = Ops::aes(odd ? q : p, at<Ops>(rk, 16));
        x = Ops::aes(x, at<Ops>(rk, 32));
        y = Ops::aes(y, at<Ops>(rk, 48));
        const B by_aes = Ops::xor_(Ops::lo32(x, y), Ops::hi32(x, y));
        sum = Ops::xor_(sum, Ops::pick(by_aes, by_cl, round_mask<Ops>(sel, n)));
        o += 64 & (uint64_t{mix_round_test(sel, n)} - 1);
    }
    return Ops::xor_(acc, sum);
}

// Case 0x18 with Rounds rounds: every round takes both the remainder and the multiply arm and
// keeps one, so the only branch is the case dispatch. Returns acc; |k| gets the last k.
template <class Ops, int Rounds>
ZANTU_INLINE typename Ops::block case_18(const char* kr, uint64_t sel, typename Ops::block p,
                                         typename Ops::block q, typename Ops::block acc,
                                         typename Ops::block& k) {
    using B = typename Ops::block;
    const int64_t dv = divisor_of(sel);
#pragma GCC unroll 8
    for (int m = 0; m < Rounds; ++m) {
        const int n = Rounds - 1 - m;
        const bool odd = (n & 1) != 0;
        const B e = at<Ops>(kr, 16 * m);
        const B kd = Ops::xor_(e, odd ? p : q);
        const B km = Ops::cl(Ops::xor_(e, odd ? q : p));
        const uint32_t rem = rem_low32(dividend_of(Ops::low64(kd)), dv);
        const B mask = round_mask<Ops>(sel, n);
        acc = Ops::pick(Ops::xor_(acc, Ops::mh(acc, km)), Ops::xor_low32(acc, rem), mask);
        if (m == Rounds - 1) k = Ops::pick(km, kd, mask);
    }
    return acc;
}

// What one lane's mixing starts from.
template <class Ops> struct LaneStart {
    char* key;
    typename Ops::block s2; // the block's s2 with the lane's nonce
    uint32_t* touch;        // as in Lane
};

// The dispatch has one slot per (case, round count) pair. lane_slot returns the slot of case
// |case_bits| (mix_case_of) with last round |last_round| (mix_last_round_of).
constexpr int kLaneSlots = 64;
constexpr uint64_t lane_slot(uint64_t case_bits, uint64_t last_round) {
    return case_bits << 1 | last_round;
}

// What one iteration needs before its case runs: selector, picks, working blocks, dispatch.
template <class Ops> struct Head {
    uint64_t sel, r_off, x_off, slot;
    typename Ops::block p, q, t1, t2;
};

// head_of reads iteration i's selector from acc, records its picks and loads its operands.
template <class Ops>
ZANTU_INLINE Head<Ops> head_of(const Lane<Ops>& lane, int i, typename Ops::block acc) {
    Head<Ops> h;
    const uint64_t sel = Ops::low64(acc);
    h.sel = sel;
    h.r_off = mix_r_offset(sel);
    h.x_off = mix_x_offset(sel);
    lane.touch[i] = static_cast<uint32_t>(h.r_off | h.x_off << 16);
    const uint64_t j = sel & 3;
    h.p = lane.w[j];
    h.q = lane.w[j ^ 1];
    h.t1 = at<Ops>(lane.key, h.x_off);
    h.t2 = at<Ops>(lane.key, h.r_off);
    h.slot = lane_slot(mix_case_of(sel), mix_last_round_of(sel));
    return h;
}

// mix_case runs case C (its selector bits) on |h| and returns the new accumulator. Rounds is
// the round count of a looped case's target, 0 for a case that runs the same code for all.
template <class Ops, unsigned C, int Rounds>
ZANTU_INLINE typename Ops::block mix_case(const Lane<Ops>& lane, const Head<Ops>& h,
                                          typename Ops::block acc) {
    using B = typename Ops::block;
    static_assert((C & ~kMixCaseBits) == 0 && Rounds >= 0 && Rounds <= 8, "a selector's case");
    const uint64_t sel = h.sel;
    char* const key = lane.key;
    char* const kr = key + h.r_off;
    char* const kx = key + h.x_off;
    const B p = h.p, q = h.q, t1 = h.t1, t2 = h.t2;
    const B cl_p = lane.clw[sel & 3], cl_q = lane.clw[(sel & 3) ^ 1];
    if constexpr (C == 0x00) {
        acc = Ops::xor_(acc, Ops::cl(Ops::xor_(q, t1)));
        Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
        acc = Ops::xor_(acc, Ops::cl(Ops::xor_(p, t2)));
        Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
    } else if constexpr (C == 0x04) {
        acc = Ops::xor_(acc, Ops::xor_(cl_p, Ops::cl(Ops::xor_(p, t2))));
        Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
        acc = Ops::xor_(acc, Ops::xor_(q, t1));
        Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
    } else if constexpr (C == 0x08) {
        acc = Ops::xor_(acc, Ops::xor_(p, t1));
        Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
        acc = Ops::xor_(acc, Ops::xor_(cl_q, Ops::cl(Ops::xor_(q, t2))));
        Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
    } else if constexpr (C == 0x0c) {
        // The odd and even arms are blended: their choice is a coin toss for the predictor.
        acc = Ops::xor_(acc, Ops::xor_(q, t2));
        const int64_t d = dividend_of(Ops::low64(acc));
        acc = Ops::xor_low32(acc, rem_low32(d, divisor_of(sel)));
        Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
        const B odd = Ops::bit_mask(static_cast<unsigned>(d & 1));
        acc = Ops::xor_(acc, Ops::pick(p, Ops::xor_(cl_p, Ops::cl(Ops::xor_(p, t1))), odd));
        Ops::store(kr, Ops::pick(t1, Ops::xor_(t1, Ops::mh(acc, t1)), odd));
    } else if constexpr (C == 0x10) {
        acc = Ops::xor_(acc, aes_case_10<Ops>(kr, q, p));
        Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
        Ops::store(kr, t1);
    } else if constexpr (C == 0x14) {
        static_assert(Rounds >= 1, "0x14 has a target per round count");
        acc = case_14<Ops, Rounds>(kr, sel, p, q, acc);
        Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
        Ops::store(kr, t1);
    } else if constexpr (C == 0x18) {
        static_assert(Rounds >= 1, "0x18 has a target per round count");
        B k;
        acc = case_18<Ops, Rounds>(kr, sel, p, q, acc, k);
        Ops::store(kx, k);
        Ops::store(kr, Ops::xor_(t1, acc));
    } else {
        static_assert(C == 0x1c, "one branch per case");
        acc = Ops::xor_(acc, Ops::cl(Ops::xor_(p, t1)));
        Ops::store(kr, Ops::xor_(t1, Ops::mh(acc, t1)));
        acc = Ops::xor_(acc, Ops::xor_(q, t2));
        Ops::store(kx, Ops::xor_(t2, Ops::mh(acc, t2)));
    }
    return acc;
}

// The dispatch targets, in slot order, generated from the case list: LANE_TARGETS(ALL, ONE,
// arg) expands ALL(name, case bits, arg) for a case that runs the same code whatever the round
// count, which fills its case's eight slots, and ONE(name, case bits, rounds, arg) for each
// round count of a looped case, which fills one slot. The jump tables, the labels and the
// ZANTU_PLAIN_SWITCH switch all come from it.
#define LANE_TARGETS(ALL, ONE, arg) KEYED_MIX_CASES(LANE_TARGETS_OF, ALL, ONE, arg)
#define LANE_TARGETS_OF(hex, kind, ALL, ONE, arg) LANE_TARGETS_##kind(hex, ALL, ONE, arg)
#define LANE_TARGETS_plain(hex, ALL, ONE, arg) ALL(case_##hex, 0x##hex, arg)
#define LANE_TARGETS_looped(hex, ALL, ONE, arg)                                                    \
    ONE(case_##hex##_rounds_1, 0x##hex, 1, arg)                                                    \
    ONE(case_##hex##_rounds_2, 0x##hex, 2, arg)                                                    \
    ONE(case_##hex##_rounds_3, 0x##hex, 3, arg)                                                    \
    ONE(case_##hex##_rounds_4, 0x##hex, 4, arg)                                                    \
    ONE(case_##hex##_rounds_5, 0x##hex, 5, arg)                                                    \
    ONE(case_##hex##_rounds_6, 0x##hex, 6, arg)                                                    \
    ONE(case_##hex##_rounds_7, 0x##hex, 7, arg)                                                    \
    ONE(case_##hex##_rounds_8, 0x##hex, 8, arg)

// Slot by slot, the case and round count that the target in that place of the list serves; a
// jump table built from the same list in the same way puts each target where the selector's
// case and round count send it.
struct LaneSlot {
    unsigned case_bits, rounds;
};
#define LANE_SLOT_FACTS_ALL(name, bits, unused)                                                    \
    {bits, 1}, {bits, 2}, {bits, 3}, {bits, 4}, {bits, 5}, {bits, 6}, {bits, 7}, {bits, 8},
#define LANE_SLOT_FACTS_ONE(name, bits, rounds, unused) {bits, rounds},
constexpr LaneSlot kLaneSlotFacts[] = {LANE_TARGETS(LANE_SLOT_FACTS_ALL, LANE_SLOT_FACTS_ONE, ~)};
#undef LANE_SLOT_FACTS_ONE
#undef LANE_SLOT_FACTS_ALL
constexpr bool lane_slots_in_place() {
    for (int k = 0; k < kLaneSlots; ++k)
        if (lane_slot(kLaneSlotFacts[k].case_bits, kLaneSlotFacts[k].rounds - 1) != uint64_t(k))
            return false;
    return true;
}
static_assert(sizeof kLaneSlotFacts / sizeof kLaneSlotFacts[0] == kLaneSlots &&
                  lane_slots_in_place(),
              "LANE_TARGETS fills each dispatch slot once, with its own case and round count");

// mix_lanes runs the mixing iterations of all lanes. Each lane's next head and code address
// follow its own case, ahead of the other lanes' dispatch. The steps are spelled out per
// lane count, as an indirect goto may only reach labels of the function it is in.

// A target's code on lane N: its case, with its round count (0: any).
#define LANE_RUN(bits, rounds, N) acc[N] = mix_case<Ops, bits, rounds>(lane[N], head[N], acc[N]);
#ifdef ZANTU_PLAIN_SWITCH
#define LANE_CASE_ALL(name, bits, N)                                                               \
    case lane_slot(bits, 0):                                                                       \
    case lane_slot(bits, 1):                                                                       \
    case lane_slot(bits, 2):                                                                       \
    case lane_slot(bits, 3):                                                                       \
    case lane_slot(bits, 4):                                                                       \
    case lane_slot(bits, 5):                                                                       \
    case lane_slot(bits, 6):                                                                       \
    case lane_slot(bits, 7):                                                                       \
        LANE_RUN(bits, 0, N) break;
#define LANE_CASE_ONE(name, bits, rounds, N)                                                       \
    case lane_slot(bits, rounds - 1):                                                              \
        LANE_RUN(bits, rounds, N) break;
#define LANE_STEP(N)                                                                               \
    {                                                                                              \
        switch (head[N].slot) {                                                                    \
            LANE_TARGETS(LANE_CASE_ALL, LANE_CASE_ONE, N)                                          \
        default: __builtin_unreachable();                                                          \
        }                                                                                          \
        if (i < 31) head[N] = head_of<Ops>(lane[N], i + 1, acc[N]);                                \
    }
#define LANE_JUMP_STATE(LANES)
#else
// Lane N's code address for each slot, and its labelled targets.
#define R8(x) x, x, x, x, x, x, x, x
#define LANE_ADDRESS_ALL(name, bits, N) R8(&&name##_lane##N),
#define LANE_ADDRESS_ONE(name, bits, rounds, N) &&name##_lane##N,
#define LANE_LABEL_ALL(name, bits, N) name##_lane##N : LANE_RUN(bits, 0, N) goto done##N;
#define LANE_LABEL_ONE(name, bits, rounds, N)                                                      \
    name##_lane##N : LANE_RUN(bits, rounds, N) goto done##N;
#define LANE_STEP(N)                                                                               \
    {                                                                                              \
        static const void* const kTargets[kLaneSlots] = {                                          \
            LANE_TARGETS(LANE_ADDRESS_ALL, LANE_ADDRESS_ONE, N)};                                  \
        if (i == 0) dest[N] = kTargets[head[N].slot];                                              \
        goto* dest[N];                                                                             \
        LANE_TARGETS(LANE_LABEL_ALL, LANE_LABEL_ONE, N)                                            \
        done##N : if (i < 31) {                                                                    \
            head[N] = head_of<Ops>(lane[N], i + 1, acc[N]);                                        \
            dest[N] = kTargets[head[N].slot];                                                      \
        }                                                                                          \
    }
#define LANE_JUMP_STATE(LANES) const void* dest[LANES];
#endif
// The working blocks are built in this frame: addressed off its stack pointer, they need no
// pointer register.
#define MIX_LANES(LANES, STEPS)                                                                    \
    template <class Ops>                                                                           \
    void mix_lanes(const LaneStart<Ops>(&start)[LANES], typename Ops::block s0,                    \
                   typename Ops::block s1, typename Ops::block s3,                                 \
                   typename Ops::block(&out)[LANES]) {                                             \
        using B = typename Ops::block;                                                             \
        alignas(16) B w[LANES][4], clw[LANES][4];                                                  \
        Lane<Ops> lane[LANES];                                                                     \
        B acc[LANES];                                                                              \
        Head<Ops> head[LANES];                                                                     \
        LANE_JUMP_STATE(LANES)                                                                     \
        for (int l = 0; l < LANES; ++l) {                                                          \
            w[l][0] = Ops::xor_(s0, start[l].s2);                                                  \
            w[l][1] = Ops::xor_(s1, s3);                                                           \
            w[l][2] = start[l].s2;                                                                 \
            w[l][3] = s3;                                                                          \
            for (int b = 0; b < 4; ++b)                                                            \
                clw[l][b] = Ops::cl(w[l][b]);                                                      \
            lane[l] = Lane<Ops>{start[l].key, w[l], clw[l], start[l].touch};                       \
            acc[l] = at<Ops>(start[l].key, 16 * kStartEntry);                                      \
            head[l] = head_of<Ops>(lane[l], 0, acc[l]);                                            \
        }                                                                                          \
        for (int i = 0; i < 32; ++i)                                                               \
            STEPS                                                                                  \
        for (int l = 0; l < LANES; ++l)                                                            \
            out[l] = acc[l];                                                                       \
    }
MIX_LANES(1, LANE_STEP(0))
MIX_LANES(2, {LANE_STEP(0) LANE_STEP(1)})
MIX_LANES(3, {LANE_STEP(0) LANE_STEP(1) LANE_STEP(2)})
#undef MIX_LANES
#undef LANE_JUMP_STATE
#undef LANE_STEP
#ifdef ZANTU_PLAIN_SWITCH
#undef LANE_CASE_ONE
#undef LANE_CASE_ALL
#else
#undef LANE_LABEL_ONE
#undef LANE_LABEL_ALL
#undef LANE_ADDRESS_ONE
#undef LANE_ADDRESS_ALL
#undef R8
#endif
#undef LANE_RUN
#undef LANE_TARGETS_looped
#undef LANE_TARGETS_plain
#undef LANE_TARGETS_OF
#undef LANE_TARGETS

// hash_lanes is NonceLanes<Lanes>::Hash over Ops: the mixing of all lanes, then each lane's
// reduction, second tail fill and keyed Haraka-512/256, then the restore of its key copy.
template <class Ops, int Lanes>
ZANTU_INLINE void hash_lanes(vec128 (*keys)[kKeyEntries], const NonceBlock& nb,
                             const uint8_t* backup, uint32_t first, uint64_t words[Lanes]) {
    using B = typename Ops::block;
    uint32_t touch[Lanes][32];
    B acc[Lanes], s2[Lanes];
    LaneStart<Ops> start[Lanes];
    const B s0 = Ops::load(nb.s), s1 = Ops::load(nb.s + 16), s3 = Ops::load(nb.s + 48);
    const B block2 = Ops::load(nb.s + 32);
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        s2[l] = with_nonce<Ops>(nb, block2, first + static_cast<uint32_t>(l));
        start[l] = LaneStart<Ops>{reinterpret_cast<char*>(keys[l]), s2[l], touch[l]};
    }
    mix_lanes<Ops>(start, s0, s1, s3, acc);
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        const uint64_t v = Ops::reduce64(acc[l]);
        const B t2 = second_fill<Ops>(nb, 0, s2[l], v);
        const B t3 = second_fill<Ops>(nb, 1, s3, v);
        words[l] = Ops::haraka512_rc_word(
            s0, s1, t2, t3, reinterpret_cast<const uint8_t*>(keys[l] + (v & kEntryIndexMask)));
    }
    // Undo the mixing's writes from the shared backup.
    const char* b = reinterpret_cast<const char*>(backup);
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        char* key = reinterpret_cast<char*>(keys[l]);
        for (int i = 0; i < 32; ++i) {
            const uint32_t t = touch[l][i];
            Ops::store(key + (t & 0xFFFF), at<Ops>(b, t & 0xFFFF));
            Ops::store(key + (t >> 16), at<Ops>(b, t >> 16));
        }
    }
}

} // namespace lanes_impl

// LANES_FORM(Ops) defines NonceLanes' members and its three instantiations over Ops.
#define LANES_FORM(Ops)                                                                            \
    template <int Lanes> void NonceLanes<Lanes>::Begin(const CZantuHashV2& hasher) {               \
        const uint8_t* key = ThreadKeyBuffer();                                                    \
        for (int l = 0; l < Lanes; ++l)                                                            \
            std::memcpy(keys_[l], key, sizeof keys_[l]);                                           \
        backup_ = key + kBackupOffset;                                                             \
        capture_nonce_block(hasher, block_);                                                       \
    }                                                                                              \
    template <int Lanes> void NonceLanes<Lanes>::Hash(uint32_t first, uint64_t words[Lanes]) {     \
        lanes_impl::hash_lanes<Ops, Lanes>(keys_, block_, backup_, first, words);                  \
    }                                                                                              \
    template class NonceLanes<1>;                                                                  \
    template class NonceLanes<2>;                                                                  \
    template class NonceLanes<3>;
