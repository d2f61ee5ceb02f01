// The in-flight nonce path, written once over a form's primitives: a group of consecutive
// nonces of one batch is hashed together on one thread; all of them advance through the 32
// mixing iterations in lock step, and each step runs one loop per case over the nonces whose
// next case it is, so the hot path has no unpredictable jump, only one loop exit per case and
// step. The nonces share one copy of the key, each nonce's writes kept apart (KeyOverlay),
// so that the group's working memory, about 160 KB, stays in a second-level cache of 512 KiB.
// Within a nonce, data that lie side by side share a pair:
// the two halves of case 0x10 and of each AES round of case 0x14, two carry-less products of
// 0x14 and 0x18 at a time, and two lanes of the final keyed Haraka-512/256. (512-bit registers
// measured slower: where they are in use, a core may run its 128- and 256-bit vector work on
// fewer ports.)
//
// Include only from a form's file: everything here has internal linkage, so each form's copy
// is built with that form's instructions and none can stand in for another's. Nothing here
// names an instruction; a form supplies a primitive struct Isa with
//   V                          one 16-byte key entry in a register
//   the block primitives of crypto/keyed_mix/ops_x86.h on V (load, store, zero, xor_, cl, mh,
//                              aes, lo32, hi32, low64, xor_low32, and_, or_, pick, splat64,
//                              shuffle, high_word, reduce64)
//   if_odd(d, even, odd)       |odd| when d is odd, else |even|
//   Pair                       two entries side by side, the first one low
//   load_pair(p), store_pair(p, v)
//                              32 bytes at a 16-byte aligned p; 32-byte aligned p
//   join(lo, hi), low(v), high(v), xor_pair, zero_pair()
//   aes_pair(x, k), cl_pair(x) aes and cl on both halves
//   interleave(v)              (lo32(low, high), hi32(low, high)): 0x10's word interleave
//   mix(a, b)                  the Haraka-512 word interleave of (s0, s1) in a, (s2, s3) in b
//   Lanes, lanes(bits)         which of a looped case's eight rounds take part
//   kept(lanes, h, v)          v with only its halves of rounds 2h, 2h + 1 kept
//   xor_kept(sum, lanes, h, v) sum ^ kept(lanes, h, v)
//   Cases, load_cases(bytes)   the group's 64 case bytes, read once per iteration
//   case_mask(cases, want)     bit k set where case byte k equals want
//   lowest(m), clear_lowest(m) the index of the lowest set bit of a nonzero 64-bit m; m
//                              without it
//   lowest8(u), popcount8(u)   for u below 256: the index of its lowest set bit (8 when u is
//                              0), the number of its set bits
// and then defines its entry points with FLIGHT_FORM_ENTRY_POINTS.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/base/bytes.h"
#include "crypto/base/layout.h"
#include "crypto/keyed_mix/mix_cases.h"
#include "crypto/nonce/kernels.h"
#include "crypto/nonce/nonce_block.h"
#include "crypto/zantu_hash.h"

namespace {

#define FLIGHT_INLINE ZANTU_INLINE

constexpr int kGroup = kFlightGroup; // nonces in flight: one bit each in a 64-bit case mask
static_assert(kGroup == 64, "a group's case masks are 64-bit words");
constexpr size_t kStartOffset = 16 * kStartEntry; // the accumulator's start entry
constexpr uint8_t kNoCase = 0xff;                 // a slot left empty by a short group

// kIdentityMap: the map of a nonce that has written nothing.
struct IdentityMap {
    alignas(64) uint16_t v[kKeyEntries];
    constexpr IdentityMap() : v() {
        for (int e = 0; e < kKeyEntries; ++e)
            v[e] = static_cast<uint16_t>(2 * e);
    }
};
constexpr IdentityMap kIdentityMap;

// KeyOverlay: the group's keys as one shared copy of the thread's key, and per nonce a slab of
// its mixing's 64 writes (write k to slot k) and a map that says for each entry where its
// current value lies: arena + 8 * map[entry], in the shared copy for an entry the nonce has
// not written. So a read is one map load and one entry load, with no test, and the restore
// resets the maps alone. (A full copy per nonce, 0.6 MB for the group, ran no faster than the
// two lanes on a core with 512 KiB of second-level cache; groups of 16 or 20 copies fit, but
// lose as much to the more frequent loop exits.)
struct KeyOverlay {
    static constexpr int kSlabEntries = 64;
    // View: one nonce's key.
    struct View {
        char* arena;
        uint16_t* map;
        unsigned slab; // the slab's first entry, in map units
        // Range: the entries from one on.
        struct Range {
            const char* arena;
            const uint16_t* map;
            // at returns where entry k of the range lies.
            FLIGHT_INLINE const char* at(size_t k) const { return arena + 8 * size_t{map[k]}; }
        };
        // at returns where the entry at byte offset off lies.
        FLIGHT_INLINE const char* at(size_t off) const { return arena + 8 * size_t{map[off >> 4]}; }
        // range returns the entries from byte offset off on.
        FLIGHT_INLINE Range range(size_t off) const { return {arena, map + (off >> 4)}; }
        // slot returns where write k (0..63) of the mixing, to the entry at byte offset off,
        // goes, and maps the entry there.
        FLIGHT_INLINE char* slot(int k, size_t off) const {
            const unsigned unit = slab + 2 * static_cast<unsigned>(k);
            map[off >> 4] = static_cast<uint16_t>(unit);
            return arena + 8 * size_t{unit};
        }
    };
    alignas(64) char arena[16 * (kKeyEntries + kGroup * kSlabEntries)];
    alignas(64) uint16_t map[kGroup][kKeyEntries];
    static_assert(2 * (kKeyEntries + kGroup * kSlabEntries) <= 65536, "map units fit 16 bits");

    // view returns nonce j's key.
    FLIGHT_INLINE View view(unsigned j) {
        return {arena, map[j], 2 * (kKeyEntries + kSlabEntries * j)};
    }
    // begin copies the thread's key into the shared copy; the maps already point there.
    void begin(const char* key) { std::memcpy(arena, key, kKeyBytes); }
    // restore maps every entry of the first |count| nonces to the shared copy again: one copy
    // of a whole map is fewer and more regular stores than the nonce's 64 scattered ones.
    void restore(int count) {
        for (int j = 0; j < count; ++j)
            std::memcpy(map[j], kIdentityMap.v, sizeof map[j]);
    }
};

// The nonces in flight, field by field, so that one step's items share few cache lines: the
// whole group's accumulators, selectors and working blocks stay in the first-level cache
// while the key entries stream through it. pair[j][s] holds P and Q of a selector whose low
// bits are s, side by side: (W[s], W[s ^ 1]); so pair[j][s ^ 1] is (Q, P).
struct Flight {
    alignas(64) uint8_t case_of[kGroup]; // each nonce's next case, mix_case_of(sel)
    alignas(64) char acc[kGroup][16];
    alignas(64) char pair[kGroup][4][32];
    alignas(64) char clw[kGroup][4][16]; // CL(W[s])
    uint64_t word[kGroup];               // digest bytes 24..31 of each nonce of the last group
    NonceBlock block;
    KeyOverlay keys;
};

// kRev8.v[u]: u with its 8 bits in reverse order. The looped cases test bit 28 + n - m of the
// selector in round m; reversed, those tests line up with the rounds.
struct Rev8 {
    uint8_t v[256];
    constexpr Rev8() : v() {
        for (int u = 0; u < 256; ++u) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                r |= ((u >> b) & 1) << (7 - b);
            v[u] = static_cast<uint8_t>(r);
        }
    }
};
constexpr Rev8 kRev8;

// opaque hides a value's origin from the optimizer, which would otherwise turn a selection
// that depends on it back into a branch, and a branch on these values is a coin toss.
FLIGHT_INLINE unsigned opaque(unsigned v) {
    __asm__("" : "+r"(v));
    return v;
}

// low64_at reads the low 8 bytes of an entry in memory.
FLIGHT_INLINE uint64_t low64_at(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// pair_at loads entries k and k + 1 of a range of a nonce's key.
template <class Isa>
FLIGHT_INLINE typename Isa::Pair pair_at(const KeyOverlay::View::Range& range, size_t k) {
    return Isa::join(Isa::load(range.at(k)), Isa::load(range.at(k + 1)));
}

// step runs iteration i of case C (mix_case_of(sel)) on nonce j and files its next case.
template <class Isa, int C> FLIGHT_INLINE void step(Flight& f, unsigned j, int i) {
    using V = typename Isa::V;
    using Pair = typename Isa::Pair;
    V acc = Isa::load(f.acc[j]);
    const uint64_t sel = low64_at(f.acc[j]);
    const KeyOverlay::View key = f.keys.view(j);
    const size_t r_off = mix_r_offset(sel), x_off = mix_x_offset(sel);
    const unsigned s = sel & 3;
    const char(&pair)[4][32] = f.pair[j];
    const char(&clw)[4][16] = f.clw[j];
    const V p = Isa::load(pair[s]), q = Isa::load(pair[s] + 16);
    const V t1 = Isa::load(key.at(x_off)), t2 = Isa::load(key.at(r_off));
    const KeyOverlay::View::Range kr = key.range(r_off); // K[R], K[R + 1], ...
    const auto x_ = [](V a, V b) __attribute__((always_inline)) {
        return Isa::xor_(a, b);
    };
    // The iteration's first and second write, in that order: when R is X the second stays.
    const auto put = [&](int nth, size_t off, V v) __attribute__((always_inline)) {
        Isa::store(key.slot(2 * i + nth, off), v);
    };

    if constexpr (C == 0x00) {
        acc = x_(acc, Isa::cl(x_(q, t1)));
        put(0, r_off, x_(t1, Isa::mh(acc, t1)));
        acc = x_(acc, Isa::cl(x_(p, t2)));
        put(1, x_off, x_(t2, Isa::mh(acc, t2)));
    } else if constexpr (C == 0x04) {
        acc = x_(acc, x_(Isa::load(clw[s]), Isa::cl(x_(p, t2))));
        put(0, x_off, x_(t2, Isa::mh(acc, t2)));
        acc = x_(acc, x_(q, t1));
        put(1, r_off, x_(t1, Isa::mh(acc, t1)));
    } else if constexpr (C == 0x08) {
        acc = x_(acc, x_(p, t1));
        put(0, r_off, x_(t1, Isa::mh(acc, t1)));
        acc = x_(acc, x_(Isa::load(clw[s ^ 1]), Isa::cl(x_(q, t2))));
        put(1, x_off, x_(t2, Isa::mh(acc, t2)));
    } else if constexpr (C == 0x0c) {
        // The odd and even arms are blended: their choice is a coin toss for the predictor.
        acc = x_(acc, x_(q, t2));
        const int64_t d = dividend_of(Isa::low64(acc));
        acc = Isa::xor_low32(acc, rem_low32(d, divisor_of(sel)));
        put(0, x_off, x_(t2, Isa::mh(acc, t2)));
        acc = x_(acc, Isa::if_odd(d, p, x_(Isa::load(clw[s]), Isa::cl(x_(p, t1)))));
        put(1, r_off, Isa::if_odd(d, t1, x_(t1, Isa::mh(acc, t1))));
    } else if constexpr (C == 0x10) {
        // (x, y) = (Q, P) side by side; each round's keys are two entries apart per half, so
        // one pair load feeds both halves, and the word interleave is one permute.
        Pair xy = Isa::load_pair(pair[s ^ 1]);
#pragma GCC unroll 3
        for (int r = 0; r < 3; ++r) {
            xy = Isa::aes_pair(xy, pair_at<Isa>(kr, 4 * r));
            xy = Isa::aes_pair(xy, pair_at<Isa>(kr, 4 * r + 2));
            xy = Isa::interleave(xy);
        }
        acc = x_(acc, x_(Isa::low(xy), Isa::high(xy)));
        put(0, x_off, x_(t2, Isa::mh(acc, t2)));
        put(1, r_off, t1);
    } else if constexpr (C == 0x14) {
        // Rounds m = 0..n do not read acc, so they all run side by side. Carry-less rounds:
        // all eight possible products of K[R..R+7], two at a time, the unused ones dropped.
        // AES rounds: three slots, taken in order, summed as prefixes so that the round count
        // picks the sum; more slots in the less common case of more rounds (about one step in
        // five: a fourth slot on every step measured slower than the mispredictions it saves).
        const unsigned n = static_cast<unsigned>(mix_last_round_of(sel));
        const unsigned u = mix_round_tests(sel);
        const unsigned cl_lanes = kRev8.v[u] >> (7 - n);
        unsigned aes_lanes = kRev8.v[u ^ 0xff] >> (7 - n);
        const unsigned aes_rounds = Isa::popcount8(aes_lanes);
        const Pair pat = Isa::load_pair(pair[s ^ (~n & 1)]);
        const typename Isa::Lanes lanes = Isa::lanes(cl_lanes);
        Pair sum = Isa::zero_pair();
#pragma GCC unroll 4
        for (int h = 0; h < 4; ++h)
            sum = Isa::xor_kept(sum, lanes, h,
                                Isa::cl_pair(Isa::xor_pair(pair_at<Isa>(kr, 2 * h), pat)));
        // y of round m is P when n - m is even, else Q: pair[s] holds P then Q.
        const char* const ys = pair[s];
        const unsigned n16 = n << 4;
        Pair prefix[4];
        prefix[0] = Isa::zero_pair();
        const auto aes_round = [&](size_t t, Pair acc_xy) __attribute__((always_inline)) {
            const size_t m = Isa::lowest8(aes_lanes) & 7;
            aes_lanes &= aes_lanes - 1;
            Pair xy = Isa::join(Isa::load(kr.at(m)), Isa::load(ys + ((n16 ^ (m << 4)) & 16)));
            xy = Isa::aes_pair(xy, pair_at<Isa>(kr, m + 1 + 4 * t));
            xy = Isa::aes_pair(xy, pair_at<Isa>(kr, m + 3 + 4 * t));
            return Isa::xor_pair(acc_xy, xy);
        };
        prefix[1] = aes_round(0, prefix[0]);
        prefix[2] = aes_round(1, prefix[1]);
        prefix[3] = aes_round(2, prefix[2]);
        Pair xy_sum = prefix[opaque(aes_rounds < 3 ? aes_rounds : 3)];
        for (size_t t = 3; __builtin_expect(aes_lanes != 0, 0);)
            xy_sum = aes_round(t++, xy_sum); // clears a bit of aes_lanes
        const V xs = Isa::low(xy_sum), ys2 = Isa::high(xy_sum);
        acc = x_(acc,
                 x_(x_(Isa::low(sum), Isa::high(sum)), x_(Isa::lo32(xs, ys2), Isa::hi32(xs, ys2))));
        put(0, x_off, x_(t2, Isa::mh(acc, t2)));
        put(1, r_off, t1);
    } else {
        static_assert(C == 0x1c, "one branch per case; 0x18 in operands_18 and chain_18");
        acc = x_(acc, Isa::cl(x_(p, t1)));
        put(0, r_off, x_(t1, Isa::mh(acc, t1)));
        acc = x_(acc, x_(q, t2));
        put(1, x_off, x_(t2, Isa::mh(acc, t2)));
    }
    Isa::store(f.acc[j], acc);
    f.case_of[j] = static_cast<uint8_t>(mix_case_of(Isa::low64(acc)));
}

// Case 0x18 in two parts: its operands, products and remainders, which do not read acc, and
// then the chain through acc and the writes. Its loop runs the next nonce's first part ahead of
// this nonce's chain, so that the divisions of one overlap the chain of the other.
template <class Isa> struct Operands18 {
    typename Isa::Pair km[4];     // only the multiply rounds' products
    alignas(16) uint32_t rem[12]; // rem[8]: where unused slots write
    unsigned j;
};

// operands_18 fills |o| for nonce j's iteration of case 0x18.
template <class Isa> FLIGHT_INLINE void operands_18(Flight& f, unsigned j, Operands18<Isa>& o) {
    using Pair = typename Isa::Pair;
    const uint64_t sel = low64_at(f.acc[j]);
    const KeyOverlay::View::Range kr = f.keys.view(j).range(mix_r_offset(sel));
    const unsigned s = sel & 3;
    const char(&pair)[4][32] = f.pair[j];
    // All eight rounds' operands at once; remainders only where a round takes them; the chain
    // then runs eight fixed rounds with the unused ones masked off.
    const unsigned n = static_cast<unsigned>(mix_last_round_of(sel));
    const unsigned u = mix_round_tests(sel);
    const unsigned rev = kRev8.v[u], shift = 7 - n;
    unsigned rem_lanes = rev >> shift;
    const Pair pat_r = Isa::load_pair(pair[s ^ (~n & 1)]);
    const Pair pat_m = Isa::load_pair(pair[s ^ (n & 1)]);
    const typename Isa::Lanes lanes = Isa::lanes((rev ^ 0xff) >> shift);
    // MH(acc, 0) is 0, so the rounds without a product leave acc to their remainders, which
    // are 0 where a round takes none.
    alignas(32) char kd[8][16];
#pragma GCC unroll 4
    for (int h = 0; h < 4; ++h) {
        const Pair e = pair_at<Isa>(kr, 2 * h);
        Isa::store_pair(kd[2 * h], Isa::xor_pair(e, pat_r));
        o.km[h] = Isa::kept(lanes, h, Isa::cl_pair(Isa::xor_pair(e, pat_m)));
    }
    Isa::store(o.rem, Isa::zero());
    Isa::store(o.rem + 4, Isa::zero());
    // Four remainder slots, taken in order, and more in the rare case of more rounds. A slot
    // with no round left writes rem[8]: its index comes from the bits alone, as a test of
    // the count would let the compiler branch on it.
    const int64_t dv = divisor_of(sel);
    const auto rem_round = [&]() __attribute__((always_inline)) {
        const unsigned m = Isa::lowest8(rem_lanes);
        rem_lanes &= rem_lanes - 1;
        o.rem[m] = rem_low32(dividend_of(low64_at(kd[m & 7])), dv);
    };
    rem_round();
    rem_round();
    rem_round();
    rem_round();
    if (__builtin_expect(rem_lanes != 0, 0))
        while (rem_lanes)
            rem_round();
    o.j = j;
}

// chain_18 finishes iteration i of case 0x18 on the nonce of |o|.
template <class Isa> FLIGHT_INLINE void chain_18(Flight& f, const Operands18<Isa>& o, int i) {
    using V = typename Isa::V;
    const unsigned j = o.j;
    V acc = Isa::load(f.acc[j]);
    const uint64_t sel = low64_at(f.acc[j]);
    const KeyOverlay::View key = f.keys.view(j);
    const size_t r_off = mix_r_offset(sel), x_off = mix_x_offset(sel);
    const char* const pq = f.pair[j][sel & 3];
    const V t1 = Isa::load(key.at(x_off));
#pragma GCC unroll 8
    for (int m = 0; m < 8; ++m)
        acc = Isa::xor_(Isa::xor_low32(acc, o.rem[m]),
                        Isa::mh(acc, m & 1 ? Isa::high(o.km[m / 2]) : Isa::low(o.km[m / 2])));
    // Round n's k: K[R + n] ^ Q for a remainder (round test bit 0), else CL(K[R + n] ^ P).
    const unsigned n = static_cast<unsigned>(mix_last_round_of(sel));
    const V e_n = Isa::load(key.range(r_off).at(n));
    const V p = Isa::load(pq), q = Isa::load(pq + 16);
    const V k = Isa::if_odd(mix_round_tests(sel), Isa::cl(Isa::xor_(e_n, p)), Isa::xor_(e_n, q));
    // The iteration's first and second write, in that order: when R is X the second stays.
    Isa::store(key.slot(2 * i, x_off), k);
    Isa::store(key.slot(2 * i + 1, r_off), Isa::xor_(t1, acc));
    Isa::store(f.acc[j], acc);
    f.case_of[j] = static_cast<uint8_t>(mix_case_of(Isa::low64(acc)));
}

// run_case runs iteration i of case C on every nonce whose bit is set in |mask|.
template <class Isa, int C> FLIGHT_INLINE void run_case(Flight& f, uint64_t mask, int i) {
    if constexpr (C == 0x18) {
        if (!mask) return;
        // Two named records taking turns, each turn written out: as an indexed pair (o[now],
        // o[now ^ 1]) they measured 4 to 7% slower per nonce, and with one helper for both
        // turns, which leaves the compiler two copies of the chain instead of four, 3% slower.
        Operands18<Isa> a, b;
        operands_18<Isa>(f, Isa::lowest(mask), a);
        mask = Isa::clear_lowest(mask);
        for (;;) {
            if (!mask) {
                chain_18<Isa>(f, a, i);
                return;
            }
            operands_18<Isa>(f, Isa::lowest(mask), b);
            mask = Isa::clear_lowest(mask);
            chain_18<Isa>(f, a, i);
            if (!mask) {
                chain_18<Isa>(f, b, i);
                return;
            }
            operands_18<Isa>(f, Isa::lowest(mask), a);
            mask = Isa::clear_lowest(mask);
            chain_18<Isa>(f, b, i);
        }
    } else {
        while (mask) {
            const unsigned j = Isa::lowest(mask);
            mask = Isa::clear_lowest(mask);
            step<Isa, C>(f, j, i);
        }
    }
}

// finish returns digest bytes 24..31 of nonce j: the reduction, the second tail fill, and
// Haraka-512/256 with its four lanes in two pairs under the key window the mixing chose.
template <class Isa>
FLIGHT_INLINE uint64_t finish(Flight& f, int j, typename Isa::Pair s01, typename Isa::V s3) {
    using V = typename Isa::V;
    using Pair = typename Isa::Pair;
    const NonceBlock& nb = f.block;
    const uint64_t v = Isa::reduce64(Isa::load(f.acc[j]));
    const V t2 = second_fill<Isa>(nb, 0, Isa::load(f.pair[j][2]), v);
    const V t3 = second_fill<Isa>(nb, 1, s3, v);
    const KeyOverlay::View::Range rc =
        f.keys.view(static_cast<unsigned>(j)).range(16 * (v & kEntryIndexMask));
    Pair a = s01, b = Isa::join(t2, t3);
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) {
        a = Isa::aes_pair(a, pair_at<Isa>(rc, 8 * r));
        b = Isa::aes_pair(b, pair_at<Isa>(rc, 8 * r + 2));
        a = Isa::aes_pair(a, pair_at<Isa>(rc, 8 * r + 4));
        b = Isa::aes_pair(b, pair_at<Isa>(rc, 8 * r + 6));
        if (r < 4) Isa::mix(a, b);
    }
    // out[24..31]: words 2 of s0 and of s2 after the last AES steps, XORed with the input s3.
    return Isa::low64(Isa::xor_(Isa::hi32(Isa::low(a), Isa::low(b)), t3));
}

// run_group hashes nonces first .. first + count - 1 (count at most kGroup) into f.word,
// then puts the keys back as they were.
template <class Isa> void run_group(Flight& f, uint32_t first, int count) {
    using V = typename Isa::V;
    const char* const block = reinterpret_cast<const char*>(f.block.s);
    const V s0 = Isa::load(block), s1 = Isa::load(block + 16), s3 = Isa::load(block + 48);
    const V w1 = Isa::xor_(s1, s3), cl_w1 = Isa::cl(w1), cl_w3 = Isa::cl(s3);
    const V start = Isa::load(f.keys.view(0).at(kStartOffset));
    const uint8_t start_case = static_cast<uint8_t>(mix_case_of(Isa::low64(start)));
    for (int j = 0; j < count; ++j) {
        const V s2 =
            with_nonce<Isa>(f.block, Isa::load(block + 32), first + static_cast<uint32_t>(j));
        const V w0 = Isa::xor_(s0, s2);
        char(&pair)[4][32] = f.pair[j];
        Isa::store(pair[0], w0), Isa::store(pair[0] + 16, w1);
        Isa::store(pair[1], w1), Isa::store(pair[1] + 16, w0);
        Isa::store(pair[2], s2), Isa::store(pair[2] + 16, s3);
        Isa::store(pair[3], s3), Isa::store(pair[3] + 16, s2);
        char(&clw)[4][16] = f.clw[j];
        Isa::store(clw[0], Isa::cl(w0)), Isa::store(clw[1], cl_w1);
        Isa::store(clw[2], Isa::cl(s2)), Isa::store(clw[3], cl_w3);
        Isa::store(f.acc[j], start);
        f.case_of[j] = start_case;
    }
    for (int j = count; j < kGroup; ++j)
        f.case_of[j] = kNoCase;

#define FLIGHT_CASE_MASK(hex, kind, Isa) const uint64_t mask_##hex = Isa::case_mask(cases, 0x##hex);
#define FLIGHT_RUN_CASE(hex, kind, Isa) run_case<Isa, 0x##hex>(f, mask_##hex, i);
    // Every case's mask first, as the steps refile their nonces' next cases; then the cases in
    // the list's order.
    for (int i = 0; i < 32; ++i) {
        const typename Isa::Cases cases = Isa::load_cases(f.case_of);
        KEYED_MIX_CASES(FLIGHT_CASE_MASK, Isa)
        KEYED_MIX_CASES(FLIGHT_RUN_CASE, Isa)
    }
#undef FLIGHT_RUN_CASE
#undef FLIGHT_CASE_MASK

    const typename Isa::Pair s01 = Isa::join(s0, s1);
    for (int j = 0; j < count; ++j)
        f.word[j] = finish<Isa>(f, j, s01, s3);
    f.keys.restore(count);
}

// The thread's working memory, made on first use and freed when the thread ends.
struct FlightHolder {
    Flight* flight = nullptr;
    ~FlightHolder() { std::free(flight); }
};
thread_local FlightHolder thread_flight;

Flight* flight_for_thread() {
    if (!thread_flight.flight) {
        void* p = nullptr;
        if (posix_memalign(&p, 64, sizeof(Flight)) != 0) return nullptr;
        std::memset(p, 0, sizeof(Flight)); // its pages now, not at some later batch
        thread_flight.flight = static_cast<Flight*>(p);
        thread_flight.flight->keys.restore(kGroup);
    }
    return thread_flight.flight;
}

// begin captures the hasher's block and gives every nonce the thread's key.
void begin(Flight& f, const CZantuHashV2& hasher) {
    capture_nonce_block(hasher, f.block);
    f.keys.begin(reinterpret_cast<const char*>(ThreadKeyBuffer()));
}

// flight_scan and flight_words are the form's kernel.
template <class Isa>
uint32_t flight_scan(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count, uint64_t target,
                     const NonceScanSink& sink) {
    Flight* f = flight_for_thread();
    if (!f) return kCannotRun;
    assert(runs_variant_c(hasher.mixFinal));
    begin(*f, hasher);
    // A line already waiting gets the one-nonce answer of the nonce-by-nonce paths.
    const bool stop_at_once = sink.stop(sink.context);
    uint64_t done = 0;
    for (;;) {
        const uint64_t left = stop_at_once ? 1 : count - done;
        const int n = static_cast<int>(left < kGroup ? left : kGroup);
        run_group<Isa>(*f, nonce_base + static_cast<uint32_t>(done), n);
        for (int j = 0; j < n; ++j)
            if (f->word[j] < target)
                sink.candidate(sink.context, nonce_base + static_cast<uint32_t>(done) + j);
        done += static_cast<uint64_t>(n);
        if (stop_at_once || done == count || sink.stop(sink.context))
            return static_cast<uint32_t>(done);
    }
}

template <class Isa>
bool flight_words(CZantuHashV2& hasher, uint32_t first, uint32_t count, uint64_t* words) {
    Flight* f = flight_for_thread();
    if (!f) return false;
    assert(runs_variant_c(hasher.mixFinal));
    begin(*f, hasher);
    for (uint32_t done = 0; done < count; done += kGroup) {
        const int n = static_cast<int>(count - done < kGroup ? count - done : kGroup);
        run_group<Isa>(*f, first + done, n);
        std::memcpy(words + done, f->word, sizeof(uint64_t) * static_cast<size_t>(n));
    }
    return true;
}

} // namespace

// FLIGHT_FORM_ENTRY_POINTS defines the form's kernel, as declared in crypto/nonce/kernels.h,
// over the form's Isa struct.
#define FLIGHT_FORM_ENTRY_POINTS(form, Isa)                                                        \
    const size_t kFlightWorkingBytes_##form = sizeof(Flight);                                      \
    bool flight_reserve_##form() {                                                                 \
        return flight_for_thread() != nullptr;                                                     \
    }                                                                                              \
    uint32_t flight_scan_##form(CZantuHashV2& hasher, uint32_t nonce_base, uint64_t count,         \
                                uint64_t target, const NonceScanSink& sink) {                      \
        return flight_scan<Isa>(hasher, nonce_base, count, target, sink);                          \
    }                                                                                              \
    bool flight_words_##form(CZantuHashV2& hasher, uint32_t first, uint32_t count,                 \
                             uint64_t* words) {                                                    \
        return flight_words<Isa>(hasher, first, count, words);                                     \
    }
