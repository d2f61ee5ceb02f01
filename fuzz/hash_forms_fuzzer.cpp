// Differential fuzzing of the fast hash forms against the portable ones, and of every
// multi-nonce path against Finalize. Both forms of an operation must agree on every byte they
// define, and the keyed mixing functions also on the key left behind and on the touch list;
// the paths must give Finalize's digest words and leave the thread's key as it was. Any
// difference aborts.
//
// Input layout: byte 0 picks the operation (bit 3: the multi-nonce paths; else the low two
// bits: Haraka-256, Haraka-512/256, Haraka-512/256 under a table, keyed mixing, with bit 2:
// the 128-bit or the 64-bit mixing result); the rest feeds it in order, zeros once the input
// runs out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vector>

#include "crypto/selection.h"
#include "crypto/zantu_hash.h"
#include "tests/support/hex.h"
#include "tests/support/steer_key.h"

namespace {

// Hands out the fuzzer's bytes front to back, then zeros.
class ByteSource {
  public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    void take(uint8_t* out, size_t n) {
        const size_t have = n < left() ? n : left();
        std::memcpy(out, data_ + pos_, have);
        std::memset(out + have, 0, n - have);
        pos_ += have;
    }
    uint8_t byte() {
        uint8_t b;
        take(&b, 1);
        return b;
    }
    uint64_t word() {
        uint8_t b[8];
        take(b, sizeof b);
        return load_le64(b);
    }
    size_t left() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// expect_same aborts with both byte strings when they differ.
void expect_same(const char* what, const void* fast, const void* portable, size_t n) {
    if (std::memcmp(fast, portable, n) == 0) return;
    std::fprintf(stderr, "forms or paths differ: %s\n", what);
    std::fprintf(stderr, "  fast     %s\n", to_hex(fast, n).c_str());
    std::fprintf(stderr, "  portable %s\n", to_hex(portable, n).c_str());
    std::abort();
}

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "contract broken: %s\n", what);
    std::abort();
}

// fuzz_haraka compares the fast and portable forms of the unkeyed Haraka on |n| input bytes
// (32 for haraka256, 64 for haraka512).
void fuzz_haraka(ByteSource& src, const char* what, haraka256_fn_t fast_form,
                 haraka256_fn_t portable_form, size_t n) {
    alignas(16) uint8_t in[64];
    src.take(in, n);
    uint8_t fast[32], portable[32];
    fast_form(fast, in);
    portable_form(portable, in);
    expect_same(what, fast, portable, 32);
}

void fuzz_haraka512_rc(ByteSource& src) {
    alignas(16) uint8_t in[64];
    src.take(in, sizeof in);
    // A short input leaves the table standard, which ties the keyed form to the plain one.
    const bool standard_table = src.left() == 0;
    alignas(16) uint8_t rc[640];
    std::memcpy(rc, HARAKA_RC, sizeof rc);
    const size_t given = src.left() < sizeof rc ? src.left() : sizeof rc;
    src.take(rc, given);

    uint8_t fast[32], portable[32];
    std::memset(fast, 0xa5, sizeof fast);
    kFastForms.haraka512_rc(fast, in, rc);
    kPortableForms.haraka512_rc(portable, in, rc);
    expect_same("haraka512_hash_rc bytes 24..31", fast + 24, portable + 24, 8);
    for (int i = 0; i < 24; ++i)
        if (fast[i] != 0xa5) broken("haraka512_hash_rc_fast wrote below byte 24");
    if (standard_table) {
        uint8_t plain[32];
        kPortableForms.haraka512(plain, in);
        expect_same("haraka512_hash_rc under the standard table vs haraka512_hash", fast + 24,
                    plain + 24, 8);
    }
}

// Key buffers of exactly the key's size, so that AddressSanitizer sees any read past it.
struct KeyBuffers {
    uint8_t* original;
    uint8_t* fast;
    uint8_t* portable;
};

KeyBuffers& key_buffers() {
    static KeyBuffers buffers{static_cast<uint8_t*>(std::aligned_alloc(32, kKeyBytes)),
                              static_cast<uint8_t*>(std::aligned_alloc(32, kKeyBytes)),
                              static_cast<uint8_t*>(std::aligned_alloc(32, kKeyBytes))};
    return buffers;
}

uint64_t splitmix64(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// steer_key sets the start entry (whose low half is the first selector) from the input, then
// applies the input's entry patches; indexed entries also to |backup| when there is one.
void steer_key(ByteSource& src, uint8_t* key, uint8_t* backup) {
    src.take(key + 16 * kStartEntry, 16);
    while (src.left() >= 2 + 16) {
        uint8_t where[2];
        src.take(where, 2);
        const size_t entry = (where[0] | size_t{where[1]} << 8) % kKeyEntries;
        uint8_t value[16];
        src.take(value, sizeof value);
        steer::put_entry(key, backup, entry, value);
    }
}

// fill_key spreads a seed over the whole key, then steers it.
void fill_key(ByteSource& src, uint8_t* key) {
    uint64_t state = src.word();
    for (size_t i = 0; i < kKeyBytes; i += 8)
        store_le64(key + i, splitmix64(state));
    steer_key(src, key, nullptr);
}

void check_touches(const char* what, vec128** fast, vec128** portable, const uint8_t* fast_key,
                   const uint8_t* portable_key) {
    const auto* fk = reinterpret_cast<const vec128*>(fast_key);
    const auto* pk = reinterpret_cast<const vec128*>(portable_key);
    for (int r = 0; r < kTouchEntries; ++r) {
        const std::ptrdiff_t f = fast[r] - fk, p = portable[r] - pk;
        if (f != p) {
            std::fprintf(stderr, "fast and portable forms differ: %s touch %d: entry %td vs %td\n",
                         what, r, f, p);
            std::abort();
        }
        if (f < 0 || f >= static_cast<std::ptrdiff_t>(kIndexedEntries))
            broken("a touch-list reference outside the indexed entries");
    }
}

// fuzz_keyed_mix runs all three variants; |wide| picks keyed_mix128 or keyed_mix64.
void fuzz_keyed_mix(ByteSource& src, bool wide) {
    alignas(16) uint8_t block[64];
    src.take(block, sizeof block);
    alignas(16) uint8_t block_before[64];
    std::memcpy(block_before, block, sizeof block);
    KeyBuffers& k = key_buffers();
    fill_key(src, k.original);
    const auto* b = reinterpret_cast<const vec128*>(block);
    auto* fk = reinterpret_cast<vec128*>(k.fast);
    auto* pk = reinterpret_cast<vec128*>(k.portable);
    vec128* fast_touch[kTouchEntries];
    vec128* portable_touch[kTouchEntries];

    for (int v = 0; v < 3; ++v) {
        const char name[2] = {static_cast<char>('A' + v), 0}; // the records list A to C
        std::memcpy(k.fast, k.original, kKeyBytes);
        std::memcpy(k.portable, k.original, kKeyBytes);
        if (wide) {
            alignas(16) const vec128 f128 = kFastForms.mix128[v](fk, b, kKeyIndexMask, fast_touch);
            alignas(16) const vec128 p128 =
                kPortableForms.mix128[v](pk, b, kKeyIndexMask, portable_touch);
            expect_same(name, &f128, &p128, 16);
            const uint64_t reduced_fast = clhash_reduce64_fast(f128);
            const uint64_t reduced_portable = clhash_reduce64_portable(f128);
            expect_same("clhash_reduce64", &reduced_fast, &reduced_portable, 8);
        } else {
            const uint64_t f64 = kFastForms.mix64[v](fk, b, kKeyIndexMask, fast_touch);
            const uint64_t p64 = kPortableForms.mix64[v](pk, b, kKeyIndexMask, portable_touch);
            expect_same(name, &f64, &p64, 8);
        }
        expect_same(name, k.fast, k.portable, kKeyBytes);
        check_touches(name, fast_touch, portable_touch, k.fast, k.portable);
        if (std::memcmp(k.fast + kIndexedBytes, k.original + kIndexedBytes,
                        kKeyBytes - kIndexedBytes) != 0)
            broken("keyed mixing wrote a key entry past 511");
    }
    if (std::memcmp(block, block_before, sizeof block) != 0) broken("keyed mixing wrote its block");

    // The reduction on its own, on an accumulator straight from the input.
    vec128 raw;
    std::memcpy(&raw, block_before, sizeof raw);
    const uint64_t raw_fast = clhash_reduce64_fast(raw),
                   raw_portable = clhash_reduce64_portable(raw);
    expect_same("clhash_reduce64", &raw_fast, &raw_portable, 8);
}

// kShortestInput: the longest whole-block input no longer than the hash input; with 0 to 31
// bytes more, the tail fills start anywhere.
constexpr size_t kShortestInput = kHashInputBytes / 32 * 32;

// The nonce paths on one input: its length (so the tail fills start anywhere), its bytes from
// a seed, then the first selector and key entries steered as fill_key does, in the key and
// its backup alike, so that the paths meet every case and corner; then a run of up to 150
// nonces, across a group boundary of the in-flight path.
void fuzz_nonce_paths(ByteSource& src) {
    alignas(32) static CZantuHashV2 hasher(4);
    const size_t len = kShortestInput + src.byte() % 32;
    uint64_t state = src.word();
    static uint8_t input[kShortestInput + 31];
    for (size_t i = 0; i < len; i += 8) {
        const uint64_t v = splitmix64(state);
        std::memcpy(input + i, &v, len - i < 8 ? len - i : 8);
    }
    uint8_t run[5];
    src.take(run, sizeof run);
    uint32_t first;
    std::memcpy(&first, run, 4);
    const uint32_t count = 1 + run[4] % 150;

    hasher.Reset();
    hasher.Write(input, len);
    PrepareKey(hasher.current);
    uint8_t* key = ThreadKeyBuffer();
    steer_key(src, key, key + kBackupOffset);
    // The key and its backup; the touch list behind them is scratch.
    std::vector<uint8_t> key_before(key, key + kTouchListOffset);

    static uint64_t want[150], got[150];
    run_nonce_words(kFinalizePath, hasher, first, count, want);
    static const CpuFeatures features = read_cpu_features();
    for (size_t i = 1; i < kNoncePathCount; ++i) {
        const NoncePath& path = *kNoncePaths[i];
        if (path.decision(features) != 1) continue;
        if (&run_nonce_words(path, hasher, first, count, got) != &path)
            broken("a nonce path handed its work to another kernel");
        expect_same(path.name, got, want, sizeof(uint64_t) * count);
        if (std::memcmp(key_before.data(), key, key_before.size()) != 0)
            broken("a nonce path left the thread's key changed");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (probe_fast_hash_support() != 1) {
        std::printf("hash_forms_fuzzer: no AES-NI/PCLMULQDQ/AVX on this processor; skipped\n");
        std::exit(0);
    }
    select_haraka_implementations();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSource src(data, size);
    const uint8_t op = src.byte();
    if (op & 8) {
        fuzz_nonce_paths(src);
        return 0;
    }
    switch (op & 3) {
    case 0:
        fuzz_haraka(src, "haraka256_hash", kFastForms.haraka256, kPortableForms.haraka256, 32);
        break;
    case 1:
        fuzz_haraka(src, "haraka512_hash", kFastForms.haraka512, kPortableForms.haraka512, 64);
        break;
    case 2: fuzz_haraka512_rc(src); break;
    default: fuzz_keyed_mix(src, (op & 4) != 0); break;
    }
    return 0;
}
