// The lane path of the nonce search: variant C's mixing, reduction and keyed Haraka-512/256
// for several nonces in flight on one thread. Measured on the target machine, the mixing is
// bound by the mispredicted case dispatch (an indirect jump costs about 25 cycles there) and
// by the accumulator's dependency chain, so: the looped cases run their rounds without
// branches, each (case, round count) pair being one target of the single dispatch; the two
// arms of case 0x0c are blended; and each lane's next selector, picks and loads are issued
// right after its own case, ahead of the other lane's dispatch, so that a lane's chain keeps
// running while the other lane's dispatch is being repaired. That head also loads its case's
// code address, which the lane's jump then reads directly: a jump that still had to look up
// its table when it issued resolved that much later, after each misprediction. Compiled
// with AES-NI and PCLMULQDQ; and a second time for the tests with ZANTU_PLAIN_SWITCH, where a
// plain switch over the same targets stands in for the computed jump.
#include "crypto/nonce_lanes.h"
#include "crypto/nonce_scan.h"

#include <cstring>
#include <immintrin.h>

#include "crypto/haraka_fast_rounds.h"
#include "crypto/keyed_mix_fast_ops.h"

namespace {

#define LANE_INLINE inline __attribute__((always_inline))

LANE_INLINE __m128i cl(__m128i x) {
    return _mm_clmulepi64_si128(x, x, 0x10);
}
LANE_INLINE __m128i mh(__m128i a, __m128i b) {
    return _mm_mulhrs_epi16(a, b);
}
LANE_INLINE __m128i aes(__m128i x, __m128i k) {
    return _mm_aesenc_si128(x, k);
}
LANE_INLINE __m128i xor_(__m128i a, __m128i b) {
    return _mm_xor_si128(a, b);
}
LANE_INLINE __m128i pick(__m128i if_clear, __m128i if_set, __m128i mask) {
    return _mm_blendv_epi8(if_clear, if_set, mask);
}
LANE_INLINE __m128i at(const char* base, uint64_t byte_offset) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(base + byte_offset));
}

constexpr int64_t kOnes = -1;
alignas(32) const __m128i kBitMask[2] = {{0, 0}, {kOnes, kOnes}};

// One lane's per-nonce state outside the accumulator.
struct Lane {
    char* key;          // the lane's key copy
    const __m128i* w;   // working blocks W[0..3]
    const __m128i* clw; // CL(W[j])
    uint32_t* touch;    // per iteration: byte offsets of K[R] (low half) and K[X] (high half)
};

// The round test of the looped cases as a full-width mask.
LANE_INLINE __m128i round_mask(uint64_t sel, int n) {
    return kBitMask[(sel >> (28 + n)) & 1];
}

// Case 0x14 with Rounds rounds. The rounds do not read acc, so they all run side by side;
// each computes both arms and keeps one. The AES round keys of round m start right after
// its entry, past the keys of the AES rounds before it.
template <int Rounds>
LANE_INLINE __m128i case_14(const char* kr, uint64_t sel, __m128i p, __m128i q, __m128i acc) {
    __m128i sum = _mm_setzero_si128();
    uint64_t o = 16;
#pragma GCC unroll 8
    for (int m = 0; m < Rounds; ++m) {
        const int n = Rounds - 1 - m;
        const bool odd = (n & 1) != 0;
        const __m128i k = at(kr, 16 * m);
        const __m128i by_cl = cl(xor_(k, odd ? p : q));
        const char* rk = kr + 16 * m + o;
        __m128i x = aes(k, at(rk, 0));
        __m128i y = aes(odd ? q : p, at(rk, 16));
        x = aes(x, at(rk, 32));
        y = aes(y, at(rk, 48));
        const __m128i by_aes = xor_(_mm_unpacklo_epi32(x, y), _mm_unpackhi_epi32(x, y));
        sum = xor_(sum, pick(by_aes, by_cl, round_mask(sel, n)));
        o += 64 & (((sel >> (28 + n)) & 1) - 1);
    }
    return xor_(acc, sum);
}

// Case 0x18 with Rounds rounds: every round takes both the remainder and the multiply arm and
// keeps one, so the only branch is the case dispatch. Returns acc; |k| gets the last k.
template <int Rounds>
LANE_INLINE __m128i case_18(const char* kr, uint64_t sel, __m128i p, __m128i q, __m128i acc,
                            __m128i& k) {
    const int64_t dv = divisor_of(sel);
#pragma GCC unroll 8
    for (int m = 0; m < Rounds; ++m) {
        const int n = Rounds - 1 - m;
        const bool odd = (n & 1) != 0;
        const __m128i e = at(kr, 16 * m);
        const __m128i kd = xor_(e, odd ? p : q);
        const __m128i km = cl(xor_(e, odd ? q : p));
        const uint32_t rem =
            rem_low32(dividend_of(static_cast<uint64_t>(_mm_cvtsi128_si64(kd))), dv);
        const __m128i mask = round_mask(sel, n);
        acc =
            pick(xor_(acc, mh(acc, km)), xor_(acc, _mm_cvtsi32_si128(static_cast<int>(rem))), mask);
        if (m == Rounds - 1) k = pick(km, kd, mask);
    }
    return acc;
}

// What one lane's mixing starts from.
struct LaneStart {
    char* key;
    __m128i s2;      // the block's s2 with the lane's nonce
    uint32_t* touch; // as in Lane
};

// The dispatch has one slot per (case, round count) pair. lane_slot returns the slot of case
// |case_bits| (mix_case_of) with last round |last_round| (mix_last_round_of).
constexpr int kLaneSlots = 64;
constexpr uint64_t lane_slot(uint64_t case_bits, uint64_t last_round) {
    return case_bits << 1 | last_round;
}

// What one iteration needs before its case runs: selector, picks, working blocks, dispatch.
struct Head {
    uint64_t sel, r_off, x_off, slot;
    __m128i p, q, t1, t2;
};

// head_of reads iteration i's selector from acc, records its picks and loads its operands.
LANE_INLINE Head head_of(const Lane& lane, int i, __m128i acc) {
    Head h;
    const uint64_t sel = static_cast<uint64_t>(_mm_cvtsi128_si64(acc));
    h.sel = sel;
    h.r_off = (sel >> 1) & kEntryOffsetMask;
    h.x_off = (sel >> 28) & kEntryOffsetMask;
    lane.touch[i] = static_cast<uint32_t>(h.r_off | h.x_off << 16);
    const uint64_t j = sel & 3;
    h.p = lane.w[j];
    h.q = lane.w[j ^ 1];
    h.t1 = at(lane.key, h.x_off);
    h.t2 = at(lane.key, h.r_off);
    h.slot = lane_slot(mix_case_of(sel), mix_last_round_of(sel));
    return h;
}

// mix_case runs case C (its selector bits) on |h| and returns the new accumulator. Rounds is
// the round count of a looped case's target, 0 for a case that runs the same code for all.
template <unsigned C, int Rounds>
LANE_INLINE __m128i mix_case(const Lane& lane, const Head& h, __m128i acc) {
    static_assert((C & ~kMixCaseBits) == 0 && Rounds >= 0 && Rounds <= 8, "a selector's case");
    const uint64_t sel = h.sel;
    char* const key = lane.key;
    __m128i* const kr = reinterpret_cast<__m128i*>(key + h.r_off);
    __m128i* const kx = reinterpret_cast<__m128i*>(key + h.x_off);
    const __m128i p = h.p, q = h.q, t1 = h.t1, t2 = h.t2;
    const __m128i cl_p = lane.clw[sel & 3], cl_q = lane.clw[(sel & 3) ^ 1];
    if constexpr (C == 0x00) {
        acc = xor_(acc, cl(xor_(q, t1)));
        _mm_store_si128(kr, xor_(t1, mh(acc, t1)));
        acc = xor_(acc, cl(xor_(p, t2)));
        _mm_store_si128(kx, xor_(t2, mh(acc, t2)));
    } else if constexpr (C == 0x04) {
        acc = xor_(acc, xor_(cl_p, cl(xor_(p, t2))));
        _mm_store_si128(kx, xor_(t2, mh(acc, t2)));
        acc = xor_(acc, xor_(q, t1));
        _mm_store_si128(kr, xor_(t1, mh(acc, t1)));
    } else if constexpr (C == 0x08) {
        acc = xor_(acc, xor_(p, t1));
        _mm_store_si128(kr, xor_(t1, mh(acc, t1)));
        acc = xor_(acc, xor_(cl_q, cl(xor_(q, t2))));
        _mm_store_si128(kx, xor_(t2, mh(acc, t2)));
    } else if constexpr (C == 0x0c) {
        // The odd and even arms are blended: their choice is a coin toss for the predictor.
        acc = xor_(acc, xor_(q, t2));
        const int64_t d = dividend_of(static_cast<uint64_t>(_mm_cvtsi128_si64(acc)));
        acc = xor_(acc, _mm_cvtsi32_si128(static_cast<int>(rem_low32(d, divisor_of(sel)))));
        _mm_store_si128(kx, xor_(t2, mh(acc, t2)));
        const __m128i odd = kBitMask[d & 1];
        acc = xor_(acc, pick(p, xor_(cl_p, cl(xor_(p, t1))), odd));
        _mm_store_si128(kr, pick(t1, xor_(t1, mh(acc, t1)), odd));
    } else if constexpr (C == 0x10) {
        __m128i x = q, y = p;
#pragma GCC unroll 3
        for (int r = 0; r < 3; ++r) {
            x = aes(aes(x, _mm_load_si128(kr + 4 * r)), _mm_load_si128(kr + 4 * r + 2));
            y = aes(aes(y, _mm_load_si128(kr + 4 * r + 1)), _mm_load_si128(kr + 4 * r + 3));
            const __m128i nx = _mm_unpacklo_epi32(x, y);
            y = _mm_unpackhi_epi32(x, y);
            x = nx;
        }
        acc = xor_(acc, xor_(x, y));
        _mm_store_si128(kx, xor_(t2, mh(acc, t2)));
        _mm_store_si128(kr, t1);
    } else if constexpr (C == 0x14) {
        static_assert(Rounds >= 1, "0x14 has a target per round count");
        acc = case_14<Rounds>(key + h.r_off, sel, p, q, acc);
        _mm_store_si128(kx, xor_(t2, mh(acc, t2)));
        _mm_store_si128(kr, t1);
    } else if constexpr (C == 0x18) {
        static_assert(Rounds >= 1, "0x18 has a target per round count");
        __m128i k;
        acc = case_18<Rounds>(key + h.r_off, sel, p, q, acc, k);
        _mm_store_si128(kx, k);
        _mm_store_si128(kr, xor_(t1, acc));
    } else {
        static_assert(C == 0x1c, "one branch per case");
        acc = xor_(acc, cl(xor_(p, t1)));
        _mm_store_si128(kr, xor_(t1, mh(acc, t1)));
        acc = xor_(acc, xor_(q, t2));
        _mm_store_si128(kx, xor_(t2, mh(acc, t2)));
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
template <int Lanes>
void mix_lanes(const LaneStart (&start)[Lanes], __m128i s0, __m128i s1, __m128i s3,
               __m128i (&acc)[Lanes]);

// A target's code on lane N: its case, with its round count (0: any).
#define LANE_RUN(bits, rounds, N) acc[N] = mix_case<bits, rounds>(lane[N], head[N], acc[N]);
#ifdef ZANTU_PLAIN_SWITCH
// The same targets behind a switch on the slot: plain C++, for the tests to hold the computed
// jump to.
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
        if (i < 31) head[N] = head_of(lane[N], i + 1, acc[N]);                                     \
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
            head[N] = head_of(lane[N], i + 1, acc[N]);                                             \
            dest[N] = kTargets[head[N].slot];                                                      \
        }                                                                                          \
    }
#define LANE_JUMP_STATE(LANES) const void* dest[LANES];
#endif
// The working blocks are built in this frame: addressed off its stack pointer, they need no
// pointer register.
#define MIX_LANES(LANES, STEPS)                                                                    \
    template <>                                                                                    \
    void mix_lanes<LANES>(const LaneStart(&start)[LANES], __m128i s0, __m128i s1, __m128i s3,      \
                          __m128i(&out)[LANES]) {                                                  \
        alignas(16) __m128i w[LANES][4], clw[LANES][4];                                            \
        Lane lane[LANES];                                                                          \
        __m128i acc[LANES];                                                                        \
        Head head[LANES];                                                                          \
        LANE_JUMP_STATE(LANES)                                                                     \
        for (int l = 0; l < LANES; ++l) {                                                          \
            w[l][0] = xor_(s0, start[l].s2);                                                       \
            w[l][1] = xor_(s1, s3);                                                                \
            w[l][2] = start[l].s2;                                                                 \
            w[l][3] = s3;                                                                          \
            for (int b = 0; b < 4; ++b)                                                            \
                clw[l][b] = cl(w[l][b]);                                                           \
            lane[l] = Lane{start[l].key, w[l], clw[l], start[l].touch};                            \
            acc[l] = at(start[l].key, 16 * kStartEntry);                                           \
            head[l] = head_of(lane[l], 0, acc[l]);                                                 \
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

} // namespace

template <int Lanes> bool NonceLanes<Lanes>::Usable(const CZantuHashV2& hasher) {
    return fast_hash_support == 1 && haraka512_rc_fn == haraka512_hash_rc_fast &&
           hasher.mixFinal == keyed_mix64_c_fast &&
           hasher.keyIndexMask == static_cast<int64_t>(kKeyIndexMask) &&
           hasher.keySize == static_cast<int64_t>(kKeyBytes);
}

template <int Lanes> void NonceLanes<Lanes>::Begin(const CZantuHashV2& hasher) {
    const uint8_t* key = ThreadKeyBuffer();
    for (int l = 0; l < Lanes; ++l)
        std::memcpy(keys_[l], key, sizeof keys_[l]);
    backup_ = reinterpret_cast<const __m128i*>(key + hasher.keySize);

    capture_nonce_block(hasher, block_);
}

template <int Lanes> void NonceLanes<Lanes>::Hash(uint32_t first, uint64_t words[Lanes]) {
    uint32_t touch[Lanes][32];
    __m128i acc[Lanes], s2[Lanes];
    LaneStart start[Lanes];
    const __m128i* const block = reinterpret_cast<const __m128i*>(block_.s);
    const __m128i s0 = block[0], s1 = block[1], s3 = block[3];
    const __m128i nonce_mask = _mm_load_si128(reinterpret_cast<const __m128i*>(block_.nonce_mask));
    const __m128i* const fill_shuffle = reinterpret_cast<const __m128i*>(block_.fill_shuffle);
    const __m128i* const fill_mask = reinterpret_cast<const __m128i*>(block_.fill_mask);
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        // Nonce bytes go to block bytes 44..46, i.e. bytes 12..14 of s2.
        const __m128i nonce = _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(first + l)), 12);
        s2[l] = _mm_or_si128(block[2], _mm_and_si128(nonce, nonce_mask));
        start[l] = LaneStart{reinterpret_cast<char*>(keys_[l]), s2[l], touch[l]};
    }
    mix_lanes<Lanes>(start, s0, s1, s3, acc);
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        const uint64_t v = reduce64_fast(acc[l]);
        const __m128i vv = _mm_set1_epi64x(static_cast<int64_t>(v));
        const __m128i t2 = pick(s2[l], _mm_shuffle_epi8(vv, fill_shuffle[0]), fill_mask[0]);
        const __m128i t3 = pick(s3, _mm_shuffle_epi8(vv, fill_shuffle[1]), fill_mask[1]);
        words[l] = static_cast<uint64_t>(_mm_cvtsi128_si64(haraka512_rc_low(
            s0, s1, t2, t3, reinterpret_cast<const uint8_t*>(keys_[l] + (v & kEntryIndexMask)))));
    }
    // Undo the mixing's writes from the shared backup.
    const char* backup = reinterpret_cast<const char*>(backup_);
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        char* key = reinterpret_cast<char*>(keys_[l]);
        for (int i = 0; i < 32; ++i) {
            const uint32_t t = touch[l][i];
            _mm_store_si128(reinterpret_cast<__m128i*>(key + (t & 0xFFFF)), at(backup, t & 0xFFFF));
            _mm_store_si128(reinterpret_cast<__m128i*>(key + (t >> 16)), at(backup, t >> 16));
        }
    }
}

template class NonceLanes<1>;
template class NonceLanes<2>;
template class NonceLanes<3>;

namespace {

// The search's lanes, two key copies, kept for the thread's life.
NonceLanes<kSearchLanes>& thread_lanes() {
    thread_local NonceLanes<kSearchLanes> lanes;
    return lanes;
}

} // namespace

uint32_t scan_nonces_lanes(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,
                           uint64_t target, const NonceScanSink& sink) {
    if (!NonceLanes<kSearchLanes>::Usable(hasher))
        return scan_nonces_finalize(hasher, nonce_base, count, target, sink);
    NonceLanes<kSearchLanes>& lanes = thread_lanes();
    lanes.Begin(hasher);
    return scan_nonce_lanes(
        lanes, nonce_base, count, target,
        [&sink](uint32_t nonce) { sink.candidate(sink.context, nonce); },
        [&sink] { return sink.stop(sink.context); });
}

void nonce_words_lanes(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words) {
    if (!NonceLanes<kSearchLanes>::Usable(hasher))
        return nonce_words_finalize(hasher, first, count, words);
    NonceLanes<kSearchLanes>& lanes = thread_lanes();
    lanes.Begin(hasher);
    uint64_t pair[kSearchLanes];
    for (uint32_t j = 0; j < count; j += kSearchLanes) {
        lanes.Hash(first + j, pair);
        for (uint32_t l = 0; l < kSearchLanes && j + l < count; ++l)
            words[j + l] = pair[l];
    }
}
