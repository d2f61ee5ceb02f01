// The in-flight nonce path, written once over a handful of instruction-set primitives: a
// group of consecutive nonces of one batch is hashed together on one thread; all of them
// advance through the 32 mixing iterations in lock step, and each step runs one loop per case
// over the nonces whose next case it is, so the hot path has no unpredictable jump, only one
// loop exit per case and step. Each nonce mixes on its own copy of the key; after the group,
// the entries it wrote are restored from the shared backup. Within a nonce, data that lie
// side by side share a 256-bit register: the two halves of case 0x10 and of each AES round of
// case 0x14, two carry-less products of 0x14 and 0x18 at a time, and two lanes of the final
// keyed Haraka-512/256. (512-bit registers measured slower: where they are in use, a core may
// run its 128- and 256-bit vector work on fewer ports.)
//
// Include only from a form's file, after nothing else: everything here has internal linkage,
// so each form's copy is built with that form's instructions and none can stand in for
// another's. A form supplies an Isa struct:
//   case_mask(lo, hi, want)   bit k set where byte k of the 64 bytes lo ‖ hi equals want's
//   if_odd(d, even, odd)      |odd| when d is odd, else |even|
//   Lanes, lanes(bits)        which 128-bit lanes of a looped case's eight take part
//   kept(lanes, h, v)         v with only its lanes of pair h (lanes 2h, 2h + 1) kept
//   xor_kept(sum, lanes, h, v) sum ^ kept(lanes, h, v)
//   mix(a, b)                 the Haraka-512 word interleave of (s0, s1) in a, (s2, s3) in b
// and then defines its entry points with FLIGHT_FORM_ENTRY_POINTS.
#pragma once

#include <cstdlib>
#include <cstring>
#include <immintrin.h>

#include "crypto/keyed_mix/ops_x86.h"
#include "crypto/nonce/kernels.h"
#include "crypto/nonce/nonce_block.h"
#include "crypto/zantu_hash.h"

namespace {

#define FLIGHT_INLINE ZANTU_INLINE

constexpr int kGroup = kFlightGroup; // nonces in flight: one bit each in a 64-bit case mask
static_assert(kGroup == 64, "a group's case masks are 64-bit words");
constexpr size_t kStartOffset = 16 * kStartEntry; // the accumulator's start entry
constexpr uint8_t kNoCase = 0xff;                 // a slot left empty by a short group

// The nonces in flight, field by field, so that one step's items share few cache lines: the
// whole group's accumulators, selectors and working blocks stay in the first-level cache
// while the key entries stream through it. pair[j][s] holds P and Q of a selector whose low
// bits are s, side by side: (W[s], W[s ^ 1]); so pair[j][s ^ 1] is (Q, P).
struct Flight {
    alignas(64) uint8_t case_of[kGroup]; // each nonce's next case, mix_case_of(sel)
    alignas(64) __m128i acc[kGroup];
    alignas(64) __m128i pair[kGroup][4][2];
    alignas(64) __m128i clw[kGroup][4];   // CL(W[s])
    alignas(64) uint64_t sel[32][kGroup]; // every iteration's selector, for the restore
    alignas(64) char keys[kGroup][kKeyBytes];
    uint64_t word[kGroup]; // digest bytes 24..31 of each nonce of the last group
    NonceBlock block;
    const char* backup; // the thread's backup of the indexed entries
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

// 0x10's interleave of (x, y) held side by side: words x0 y0 x1 y1 x2 y2 x3 y3. Plain words,
// here and in the forms: a vector constant at namespace scope would be built at start-up, on
// any processor.
alignas(32) constexpr int32_t kInterleave[8] = {0, 4, 1, 5, 2, 6, 3, 7};

FLIGHT_INLINE __m128i x_(__m128i a, __m128i b) {
    return FastOps::xor_(a, b);
}
FLIGHT_INLINE __m128i cl(__m128i x) {
    return FastOps::cl(x);
}
FLIGHT_INLINE __m256i cl256(__m256i x) {
    return _mm256_clmulepi64_epi128(x, x, 0x10);
}
FLIGHT_INLINE __m128i mh(__m128i a, __m128i b) {
    return FastOps::mh(a, b);
}
FLIGHT_INLINE __m128i ld(const char* p) {
    return FastOps::load(p);
}
FLIGHT_INLINE void st(char* p, __m128i v) {
    FastOps::store(p, v);
}
FLIGHT_INLINE __m256i ld256(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
FLIGHT_INLINE void st256(void* p, __m256i v) {
    _mm256_store_si256(static_cast<__m256i*>(p), v);
}
// opaque hides a value's origin from the optimizer, which would otherwise turn a selection
// that depends on it back into a branch, and a branch on these values is a coin toss.
FLIGHT_INLINE unsigned opaque(unsigned v) {
    __asm__("" : "+r"(v));
    return v;
}
FLIGHT_INLINE __m256i join(__m128i lo, __m128i hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}
FLIGHT_INLINE __m128i fold(__m256i v) {
    return x_(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// step runs iteration i of case C (mix_case_of(sel)) on nonce j and files its next case.
template <class Isa, int C> FLIGHT_INLINE void step(Flight& f, unsigned j, int i) {
    __m128i acc = f.acc[j];
    uint64_t sel;
    std::memcpy(&sel, &f.acc[j], sizeof sel);
    f.sel[i][j] = sel;
    char* const key = f.keys[j];
    char* const kr = key + mix_r_offset(sel);
    char* const kx = key + mix_x_offset(sel);
    const unsigned s = sel & 3;
    const __m128i(&pair)[4][2] = f.pair[j];
    const __m128i* const clw = f.clw[j];
    const __m128i p = pair[s][0], q = pair[s][1];
    const __m128i t1 = ld(kx), t2 = ld(kr);

    if constexpr (C == 0x00) {
        acc = x_(acc, cl(x_(q, t1)));
        st(kr, x_(t1, mh(acc, t1)));
        acc = x_(acc, cl(x_(p, t2)));
        st(kx, x_(t2, mh(acc, t2)));
    } else if constexpr (C == 0x04) {
        acc = x_(acc, x_(clw[s], cl(x_(p, t2))));
        st(kx, x_(t2, mh(acc, t2)));
        acc = x_(acc, x_(q, t1));
        st(kr, x_(t1, mh(acc, t1)));
    } else if constexpr (C == 0x08) {
        acc = x_(acc, x_(p, t1));
        st(kr, x_(t1, mh(acc, t1)));
        acc = x_(acc, x_(clw[s ^ 1], cl(x_(q, t2))));
        st(kx, x_(t2, mh(acc, t2)));
    } else if constexpr (C == 0x0c) {
        // The odd and even arms are blended: their choice is a coin toss for the predictor.
        acc = x_(acc, x_(q, t2));
        const int64_t d = dividend_of(static_cast<uint64_t>(_mm_cvtsi128_si64(acc)));
        acc = x_(acc, _mm_cvtsi32_si128(static_cast<int>(rem_low32(d, divisor_of(sel)))));
        st(kx, x_(t2, mh(acc, t2)));
        acc = x_(acc, Isa::if_odd(d, p, x_(clw[s], cl(x_(p, t1)))));
        st(kr, Isa::if_odd(d, t1, x_(t1, mh(acc, t1))));
    } else if constexpr (C == 0x10) {
        // (x, y) = (Q, P) side by side; each round's keys are two entries apart per half, so
        // one 32-byte load feeds both halves, and the word interleave is one permute.
        const __m256i interleave = _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave));
        __m256i xy = ld256(&pair[s ^ 1]);
#pragma GCC unroll 3
        for (int r = 0; r < 3; ++r) {
            xy = _mm256_aesenc_epi128(xy, ld256(kr + 64 * r));
            xy = _mm256_aesenc_epi128(xy, ld256(kr + 64 * r + 32));
            xy = _mm256_permutevar8x32_epi32(xy, interleave);
        }
        acc = x_(acc, fold(xy));
        st(kx, x_(t2, mh(acc, t2)));
        st(kr, t1);
    } else if constexpr (C == 0x14) {
        // Rounds m = 0..n do not read acc, so they all run side by side. Carry-less rounds:
        // all eight possible products of K[R..R+7], two at a time, the unused ones dropped.
        // AES rounds: four slots, taken in order, summed as prefixes so that the round count
        // picks the sum; more slots in the rare case of more rounds.
        const unsigned n = static_cast<unsigned>(mix_last_round_of(sel));
        const unsigned u = mix_round_tests(sel);
        const unsigned cl_lanes = kRev8.v[u] >> (7 - n);
        unsigned aes_lanes = kRev8.v[u ^ 0xff] >> (7 - n);
        const unsigned aes_rounds = static_cast<unsigned>(_mm_popcnt_u32(aes_lanes));
        const __m256i pat = ld256(&pair[s ^ (~n & 1)]);
        const typename Isa::Lanes lanes = Isa::lanes(cl_lanes);
        __m256i sum = _mm256_setzero_si256();
#pragma GCC unroll 4
        for (int h = 0; h < 4; ++h)
            sum = Isa::xor_kept(sum, lanes, h, cl256(_mm256_xor_si256(ld256(kr + 32 * h), pat)));
        // y of round m is P when n - m is even, else Q: pair[s] holds P then Q.
        const char* const ys = reinterpret_cast<const char*>(&pair[s][0]);
        const unsigned n16 = n << 4;
        alignas(32) __m256i prefix[5];
        prefix[0] = _mm256_setzero_si256();
        const auto aes_round = [&](unsigned t, __m256i acc_xy) __attribute__((always_inline)) {
            const unsigned m16 = (_tzcnt_u32(aes_lanes) & 7) << 4;
            aes_lanes = _blsr_u32(aes_lanes);
            __m256i xy = join(ld(kr + m16), ld(ys + ((n16 ^ m16) & 16)));
            xy = _mm256_aesenc_epi128(xy, ld256(kr + m16 + 16 + 64 * t));
            xy = _mm256_aesenc_epi128(xy, ld256(kr + m16 + 48 + 64 * t));
            return _mm256_xor_si256(acc_xy, xy);
        };
        prefix[1] = aes_round(0, prefix[0]);
        prefix[2] = aes_round(1, prefix[1]);
        prefix[3] = aes_round(2, prefix[2]);
        prefix[4] = aes_round(3, prefix[3]);
        __m256i xy_sum = prefix[opaque(aes_rounds < 4 ? aes_rounds : 4)];
        if (__builtin_expect(aes_rounds > 4, 0))
            for (unsigned t = 4; t < aes_rounds; ++t)
                xy_sum = aes_round(t, xy_sum);
        const __m128i xs = _mm256_castsi256_si128(xy_sum),
                      ys2 = _mm256_extracti128_si256(xy_sum, 1);
        acc = x_(acc, x_(fold(sum), x_(_mm_unpacklo_epi32(xs, ys2), _mm_unpackhi_epi32(xs, ys2))));
        st(kx, x_(t2, mh(acc, t2)));
        st(kr, t1);
    } else if constexpr (C == 0x18) {
        // All eight rounds' operands at once; remainders only where a round takes them; then
        // the chain through acc, eight fixed rounds with the unused ones masked off.
        const unsigned n = static_cast<unsigned>(mix_last_round_of(sel));
        const unsigned u = mix_round_tests(sel);
        unsigned rem_lanes = kRev8.v[u] >> (7 - n);
        const unsigned last_is_rem = (rem_lanes >> n) & 1;
        const unsigned mul_lanes = kRev8.v[u ^ 0xff] >> (7 - n);
        const __m256i pat_r = ld256(&pair[s ^ (~n & 1)]);
        const __m256i pat_m = ld256(&pair[s ^ (n & 1)]);
        const typename Isa::Lanes lanes = Isa::lanes(mul_lanes);
        // kmul holds only the multiply rounds' products: MH(acc, 0) is 0, so the other rounds
        // leave acc to their remainders, which are 0 where a round takes none.
        alignas(32) __m128i kd[8], kmul[8], rem[9]; // rem[8]: where unused slots write
#pragma GCC unroll 4
        for (int h = 0; h < 4; ++h) {
            const __m256i e = ld256(kr + 32 * h);
            st256(kd + 2 * h, _mm256_xor_si256(e, pat_r));
            st256(kmul + 2 * h, Isa::kept(lanes, h, cl256(_mm256_xor_si256(e, pat_m))));
            st256(rem + 2 * h, _mm256_setzero_si256());
        }
        // Four remainder slots, taken in order, and more in the rare case of more rounds.
        const int64_t dv = divisor_of(sel);
        const unsigned rem_rounds = static_cast<unsigned>(_mm_popcnt_u32(rem_lanes));
        const auto rem_round = [&](unsigned t) __attribute__((always_inline)) {
            const unsigned m = _tzcnt_u32(rem_lanes) & 7;
            rem_lanes = _blsr_u32(rem_lanes);
            const uint64_t d = static_cast<uint64_t>(_mm_cvtsi128_si64(kd[m]));
            const unsigned to = opaque(t < rem_rounds ? m : 8);
            rem[to] = _mm_cvtsi32_si128(static_cast<int>(rem_low32(dividend_of(d), dv)));
        };
        rem_round(0);
        rem_round(1);
        rem_round(2);
        rem_round(3);
        if (__builtin_expect(rem_rounds > 4, 0))
            for (unsigned t = 4; t < rem_rounds; ++t)
                rem_round(t);
#pragma GCC unroll 8
        for (int m = 0; m < 8; ++m)
            acc = x_(x_(acc, rem[m]), mh(acc, kmul[m]));
        const __m128i* last[2] = {kmul, kd};
        st(kx, last[opaque(last_is_rem)][n]);
        st(kr, x_(t1, acc));
    } else {
        static_assert(C == 0x1c, "one branch per case");
        acc = x_(acc, cl(x_(p, t1)));
        st(kr, x_(t1, mh(acc, t1)));
        acc = x_(acc, x_(q, t2));
        st(kx, x_(t2, mh(acc, t2)));
    }
    f.acc[j] = acc;
    f.case_of[j] = static_cast<uint8_t>(mix_case_of(static_cast<uint64_t>(_mm_cvtsi128_si64(acc))));
}

// run_case runs iteration i of case C on every nonce whose bit is set in |mask|.
template <class Isa, int C> FLIGHT_INLINE void run_case(Flight& f, uint64_t mask, int i) {
    while (mask) {
        const unsigned j = static_cast<unsigned>(_tzcnt_u64(mask));
        mask = _blsr_u64(mask);
        step<Isa, C>(f, j, i);
    }
}

// finish returns digest bytes 24..31 of nonce j: the reduction, the second tail fill, and
// Haraka-512/256 with its four lanes in two registers under the key window the mixing chose.
template <class Isa>
FLIGHT_INLINE uint64_t finish(const Flight& f, int j, __m256i s01, __m128i s3) {
    const NonceBlock& nb = f.block;
    const uint64_t v = FastOps::reduce64(f.acc[j]);
    const __m128i vv = _mm_set1_epi64x(static_cast<int64_t>(v));
    const __m128i* shuffle = reinterpret_cast<const __m128i*>(nb.fill_shuffle);
    const __m128i* mask = reinterpret_cast<const __m128i*>(nb.fill_mask);
    const __m128i t2 = _mm_blendv_epi8(f.pair[j][2][0], _mm_shuffle_epi8(vv, shuffle[0]), mask[0]);
    const __m128i t3 = _mm_blendv_epi8(s3, _mm_shuffle_epi8(vv, shuffle[1]), mask[1]);
    const char* rc = f.keys[j] + 16 * (v & kEntryIndexMask);
    __m256i a = s01, b = join(t2, t3);
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) {
        a = _mm256_aesenc_epi128(a, ld256(rc + 128 * r));
        b = _mm256_aesenc_epi128(b, ld256(rc + 128 * r + 32));
        a = _mm256_aesenc_epi128(a, ld256(rc + 128 * r + 64));
        b = _mm256_aesenc_epi128(b, ld256(rc + 128 * r + 96));
        if (r < 4) Isa::mix(a, b);
    }
    // out[24..31]: words 2 of s0 and of s2 after the last AES steps, XORed with the input s3.
    const __m128i out =
        x_(_mm_unpackhi_epi32(_mm256_castsi256_si128(a), _mm256_castsi256_si128(b)), t3);
    return static_cast<uint64_t>(_mm_cvtsi128_si64(out));
}

// restore puts back, from the backup, every entry the group's mixing wrote.
FLIGHT_INLINE void restore(Flight& f, int count) {
    for (int i = 0; i < 32; ++i) {
        for (int j = 0; j < count; ++j) {
            const uint64_t sel = f.sel[i][j];
            const uint64_t r = mix_r_offset(sel), x = mix_x_offset(sel);
            st(f.keys[j] + r, ld(f.backup + r));
            st(f.keys[j] + x, ld(f.backup + x));
        }
    }
}

// run_group hashes nonces first .. first + count - 1 (count at most kGroup) into f.word.
template <class Isa> void run_group(Flight& f, uint32_t first, int count) {
    const __m128i* block = reinterpret_cast<const __m128i*>(f.block.s);
    const __m128i s0 = block[0], s1 = block[1], s3 = block[3];
    const __m128i nonce_mask = ld(reinterpret_cast<const char*>(f.block.nonce_mask));
    const __m128i w1 = x_(s1, s3), cl_w1 = cl(w1), cl_w3 = cl(s3);
    const __m128i start = ld(f.keys[0] + kStartOffset);
    const uint8_t start_case =
        static_cast<uint8_t>(mix_case_of(static_cast<uint64_t>(_mm_cvtsi128_si64(start))));
    for (int j = 0; j < count; ++j) {
        // Nonce bytes go to block bytes 44..46, i.e. bytes 12..14 of s2.
        const __m128i nonce = _mm_slli_si128(
            _mm_cvtsi32_si128(static_cast<int>(first + static_cast<uint32_t>(j))), 12);
        const __m128i s2 = _mm_or_si128(block[2], _mm_and_si128(nonce, nonce_mask));
        const __m128i w0 = x_(s0, s2);
        __m128i(&pair)[4][2] = f.pair[j];
        pair[0][0] = w0, pair[0][1] = w1;
        pair[1][0] = w1, pair[1][1] = w0;
        pair[2][0] = s2, pair[2][1] = s3;
        pair[3][0] = s3, pair[3][1] = s2;
        __m128i* clw = f.clw[j];
        clw[0] = cl(w0), clw[1] = cl_w1, clw[2] = cl(s2), clw[3] = cl_w3;
        f.acc[j] = start;
        f.case_of[j] = start_case;
    }
    for (int j = count; j < kGroup; ++j)
        f.case_of[j] = kNoCase;

#define FLIGHT_CASE_MASK(hex, kind, Isa)                                                           \
    const uint64_t mask_##hex = Isa::case_mask(lo, hi, _mm256_set1_epi8(0x##hex));
#define FLIGHT_RUN_CASE(hex, kind, Isa) run_case<Isa, 0x##hex>(f, mask_##hex, i);
    // Every case's mask first, as the steps refile their nonces' next cases; then the cases in
    // the list's order.
    for (int i = 0; i < 32; ++i) {
        const __m256i lo = _mm256_load_si256(reinterpret_cast<const __m256i*>(f.case_of));
        const __m256i hi = _mm256_load_si256(reinterpret_cast<const __m256i*>(f.case_of + 32));
        KEYED_MIX_CASES(FLIGHT_CASE_MASK, Isa)
        KEYED_MIX_CASES(FLIGHT_RUN_CASE, Isa)
    }
#undef FLIGHT_RUN_CASE
#undef FLIGHT_CASE_MASK

    const __m256i s01 = join(s0, s1);
    for (int j = 0; j < count; ++j)
        f.word[j] = finish<Isa>(f, j, s01, s3);
    restore(f, count);
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
    }
    return thread_flight.flight;
}

// begin captures the hasher's block and copies the thread's key into every nonce's copy.
// Always a full copy (about 0.6 MB, some tens of microseconds per batch): nothing but the
// copy itself can vouch that the copies still match the key.
void begin(Flight& f, const CZantuHashV2& hasher) {
    const char* key = reinterpret_cast<const char*>(ThreadKeyBuffer());
    f.backup = key + kBackupOffset;
    capture_nonce_block(hasher, f.block);
    for (int j = 0; j < kGroup; ++j)
        std::memcpy(f.keys[j], key, kKeyBytes);
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

// FLIGHT_FORM_ENTRY_POINTS defines the form's kernel, as declared in
// crypto/nonce/kernels.h, over the form's Isa struct.
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
