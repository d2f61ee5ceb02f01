// The per-thread hash key: known expansion, expand-or-restore decisions, the fresh-buffer
// case, the touch list and the buffer layout.
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "crypto/base/bytes.h"
#include "crypto/zantu_hash.h"
#include "tests/support/form_fixture.h"
#include "tests/support/hex.h"

namespace {

// Counts Haraka-256 calls made through the dispatch slot, so expansions can be seen.
haraka256_fn_t counted_inner = nullptr;
int haraka256_calls = 0;
// kCallsPerExpansion: one Haraka-256 call per 32-byte block of the key.
constexpr int kCallsPerExpansion = kKeyBytes / 32;
void counting_haraka256(uint8_t* out, const uint8_t* in) {
    ++haraka256_calls;
    counted_inner(out, in);
}

class HashKeyTest : public HashFormTest {
  protected:
    void SetUp() override {
        HashFormTest::SetUp();
        if (IsSkipped()) return;
        counted_inner = haraka256_fn;
        haraka256_fn = counting_haraka256;
        haraka256_calls = 0;
    }
    // expansions counts whole expansions since the last call.
    int expansions() {
        const int n = haraka256_calls / kCallsPerExpansion;
        EXPECT_EQ(haraka256_calls % kCallsPerExpansion, 0);
        haraka256_calls = 0;
        return n;
    }
};

TEST_P(HashKeyTest, KnownExpansion) {
    CZantuHashV2 h(4);
    alignas(16) uint8_t seed[32];
    from_hex("73a0ae2fb876c5e3d54d1b3c91e60084e6d921a6742db23a15531a2976eb95ea", seed);
    PrepareKey(seed);
    const uint8_t* key = ThreadKeyBuffer();
    EXPECT_EQ(to_hex(key, 32), "77cf2d1b6cd3280c12b71b0f3f5d748807331b97af13987be4ab0f2708f3faee");
    EXPECT_EQ(to_hex(key + kKeyBytes - 32, 32),
              "e9fd01e7717beef64c1cf356e26e215ca71ea1dd37ee4b3d4ccb7ae4a18ac9da");
    EXPECT_EQ(to_hex(key + 16 * kStartEntry, 16), "9e0e2d2936379331e2dadb2601f64b2e");
    // Each block is Haraka-256 of the one before it.
    alignas(16) uint8_t prev[32];
    uint8_t next[32];
    std::memcpy(prev, key + 32, 32);
    haraka256_fn(next, prev);
    EXPECT_EQ(to_hex(next, 32), to_hex(key + 64, 32));
    // The backup holds the indexed entries exactly.
    EXPECT_EQ(0, std::memcmp(key, key + kBackupOffset, kIndexedBytes));
}

TEST_P(HashKeyTest, PrepareExpandsOnlyForANewSeed) {
    CZantuHashV2 h(4);
    alignas(16) uint8_t s1[32], s2[32], s1_last[32];
    // Seeds the thread's record cannot hold from an earlier test.
    static std::mt19937_64 rng(3);
    fill_random(rng, s1, 32);
    fill_random(rng, s2, 32);
    std::memcpy(s1_last, s1, 32);
    s1_last[31] ^= 1;
    // One seed after the other, each with the expansions it must cost.
    const struct {
        const char* what;
        const uint8_t* seed;
        int expansions;
    } steps[] = {
        {"first seed", s1, 1},
        {"same seed restores", s1, 0},
        // Catches a seed comparison that stops short of the last byte.
        {"first seed but its last byte", s1_last, 1},
        {"another seed", s2, 1},
        {"first seed again", s1, 1},
    };
    for (const auto& step : steps) {
        PrepareKey(step.seed);
        EXPECT_EQ(expansions(), step.expansions) << step.what;
    }

    // A restore undoes any damage to the indexed entries.
    alignas(32) static uint8_t fresh[kKeyBytes];
    ExpandKey(fresh, s1, kKeyBytes);
    haraka256_calls = 0;
    std::memset(ThreadKeyBuffer() + 100, 0xee, 4000);
    PrepareKey(s1);
    EXPECT_EQ(expansions(), 0);
    EXPECT_EQ(0, std::memcmp(ThreadKeyBuffer(), fresh, sizeof fresh));
}

TEST_P(HashKeyTest, FreshBufferExpandsEvenForTheAllZeroSeed) {
    std::string first, expected;
    int calls = 0;
    // A new thread gets a new, uninitialised buffer with an all-zero seed record.
    std::thread([&] {
        CZantuHashV2 h(4);
        EXPECT_FALSE(ThreadKeyRecord()->holds_key);
        alignas(16) uint8_t zero[32] = {};
        PrepareKey(zero);
        calls = haraka256_calls;
        first = to_hex(ThreadKeyBuffer(), kKeyBytes);
        alignas(32) static uint8_t fresh[kKeyBytes];
        ExpandKey(fresh, zero, kKeyBytes);
        expected = to_hex(fresh, kKeyBytes);
    }).join();
    EXPECT_EQ(calls, kCallsPerExpansion);
    EXPECT_EQ(first, expected);
}

TEST_P(HashKeyTest, TouchListNamesRestoredEntriesInIterationOrder) {
    CZantuHashV2 h(4);
    std::mt19937_64 rng(5);
    fill_random(rng, h.current, 64);
    PrepareKey(h.current);
    vec128* key = reinterpret_cast<vec128*>(ThreadKeyBuffer());
    vec128** touch = ThreadTouchList();
    EXPECT_EQ(reinterpret_cast<uint8_t*>(touch), ThreadKeyBuffer() + kTouchListOffset);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(key) % 32, 0u);

    const uint64_t v =
        h.mixFinal(key, reinterpret_cast<const vec128*>(h.current), h.keyIndexMask, touch);
    (void)v;
    // Pair i names entries R and X of iteration i; the first pair comes from the start entry.
    const uint64_t sel = load_le64(reinterpret_cast<const uint8_t*>(key + kStartEntry));
    EXPECT_EQ(touch[0], key + ((sel >> 5) & kEntryIndexMask));
    EXPECT_EQ(touch[1], key + ((sel >> 32) & kEntryIndexMask));
    for (int r = 0; r < kTouchEntries; ++r) {
        ASSERT_GE(touch[r], key);
        ASSERT_LT(touch[r], key + kIndexedEntries);
    }
    RestoreTouched();
    EXPECT_EQ(0, std::memcmp(key, reinterpret_cast<uint8_t*>(key) + kBackupOffset, kIndexedBytes));
}

INSTANTIATE_FOR_EVERY_FORM(HashKeyTest);

TEST(HashKeyBuffer, HashersOnOneThreadShareTheBufferAndSeed) {
    CZantuHashV2 a(4);
    uint8_t* buffer = ThreadKeyBuffer();
    alignas(16) uint8_t seed[32] = {1, 2, 3};
    PrepareKey(seed);
    CZantuHashV2 b(3);
    EXPECT_EQ(ThreadKeyBuffer(), buffer);
    EXPECT_TRUE(ThreadKeyRecord()->holds_key);
    EXPECT_EQ(0, std::memcmp(ThreadKeyRecord()->seed, seed, 32));
    EXPECT_EQ(ThreadKeyRecord()->keySize, static_cast<int32_t>(kKeyBytes));
}

#ifndef NDEBUG
// An unaligned seed faults only where the fast forms run; with assertions on (debug and
// sanitizer builds) it is refused on every machine.
TEST(HashKeyBufferDeathTest, UnalignedSeedIsRefusedEverywhere) {
    CZantuHashV2 h(4);
    alignas(16) uint8_t seed[48] = {};
    EXPECT_DEATH(PrepareKey(seed + 1), "is_aligned");
}
#endif

} // namespace
