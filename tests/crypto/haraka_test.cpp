// Known answers run against every Haraka form, and the fast forms checked against the
// portable ones on random inputs and random constant tables.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/haraka/haraka.h"
#include "tests/support/form_fixture.h"
#include "tests/support/known_answers.h"
#include "tests/support/hex.h"

namespace {

class HarakaFormTest : public HashFormTest {};

TEST_P(HarakaFormTest, KnownAnswers) {
    const HashForms& forms = *GetParam();
    EXPECT_EQ(haraka_answer_fault(forms.haraka256, forms.haraka512, forms.haraka512_rc), "");
}

TEST_P(HarakaFormTest, LastRoundConstantsOfLanesOneAndThreeDoNotReachOutput) {
    alignas(16) uint8_t in[64], table[640];
    for (int i = 0; i < 64; ++i)
        in[i] = i;
    std::memcpy(table, HARAKA_RC, sizeof table);
    for (int entry : {37, 39})
        table[16 * entry + 5] ^= 0x5a;
    uint8_t out[32];
    GetParam()->haraka512_rc(out, in, table);
    EXPECT_EQ(to_hex(out + 24, 8), kKeyedCountingAnswer);
    // Word 2 of lane 0's last key does reach it.
    table[16 * 36 + 8] ^= 1;
    GetParam()->haraka512_rc(out, in, table);
    EXPECT_NE(to_hex(out + 24, 8), kKeyedCountingAnswer);
}

INSTANTIATE_FOR_EVERY_FORM(HarakaFormTest);

class HarakaFastVsPortable : public ::testing::Test {
  protected:
    void SetUp() override {
        if (probe_fast_hash_support() != 1) GTEST_SKIP() << "processor lacks AES-NI";
    }
    std::mt19937_64 rng{20261208};
};

TEST_F(HarakaFastVsPortable, RandomInputsAndTables) {
    alignas(16) uint8_t in[64], table[640];
    for (int iter = 0; iter < 20000; ++iter) {
        fill_random(rng, in, sizeof in);
        fill_random(rng, table, sizeof table);
        uint8_t fast[32], soft[32];
        kFastForms.haraka256(fast, in);
        kPortableForms.haraka256(soft, in);
        ASSERT_EQ(to_hex(fast, 32), to_hex(soft, 32)) << "haraka256, iteration " << iter;
        kFastForms.haraka512(fast, in);
        kPortableForms.haraka512(soft, in);
        ASSERT_EQ(to_hex(fast, 32), to_hex(soft, 32)) << "haraka512, iteration " << iter;

        // The fast keyed form writes out[24..31] and nothing else.
        uint8_t sentinel[32];
        fill_random(rng, sentinel, sizeof sentinel);
        std::memcpy(fast, sentinel, 32);
        kFastForms.haraka512_rc(fast, in, table);
        kPortableForms.haraka512_rc(soft, in, table);
        ASSERT_EQ(to_hex(fast + 24, 8), to_hex(soft + 24, 8)) << "haraka512_rc, iteration " << iter;
        ASSERT_EQ(0, std::memcmp(fast, sentinel, 24)) << "bytes 0..23 written, iteration " << iter;
    }
}

TEST(HarakaConstants, TableMatchesPublishedEnds) {
    EXPECT_EQ(to_hex(HARAKA_RC, 16), "9d7b8175f0fec5b20ac020e64c708406");
    EXPECT_EQ(to_hex(HARAKA_RC + 16 * 39, 16), "a19dc5e9fdbdd64a8882280203cc6a75");
}

TEST(HarakaBuildingBlocks, InterleavesAllowAliasedDestination) {
    uint8_t a[16], b[16];
    for (int i = 0; i < 16; ++i)
        a[i] = i, b[i] = 0x80 + i;
    for (auto fn : {interleave_lo32, interleave_hi32}) {
        uint8_t separate[16], into_a[16], into_b[16];
        fn(separate, a, b);
        std::memcpy(into_a, a, 16);
        fn(into_a, into_a, b);
        std::memcpy(into_b, b, 16);
        fn(into_b, a, into_b);
        EXPECT_EQ(to_hex(into_a, 16), to_hex(separate, 16));
        EXPECT_EQ(to_hex(into_b, 16), to_hex(separate, 16));
    }
    uint8_t lo[16], hi[16];
    interleave_lo32(lo, a, b);
    interleave_hi32(hi, a, b);
    EXPECT_EQ(to_hex(lo, 16), "00010203808182830405060784858687");
    EXPECT_EQ(to_hex(hi, 16), "08090a0b88898a8b0c0d0e0f8c8d8e8f");
}

TEST(HarakaBuildingBlocks, AesRoundMatchesFips197Round) {
    // FIPS-197 appendix B, round 1: state after SubBytes..MixColumns of the round-1 input,
    // then AddRoundKey with the round-1 key.
    uint8_t block[16], key[16];
    from_hex("193de3bea0f4e22b9ac68d2ae9f84808", block);
    from_hex("a0fafe1788542cb123a339392a6c7605", key);
    aes_round_soft(block, key);
    EXPECT_EQ(to_hex(block, 16), "a49c7ff2689f352b6b5bea43026a5049");
}

} // namespace
