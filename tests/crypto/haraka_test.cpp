// Known answers run against every Haraka form, and the fast forms checked against the
// portable ones on random inputs and random constant tables.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/selection.h"
#include "crypto/haraka/haraka.h"
#include "tests/support/test_util.h"

namespace {

struct HarakaForm {
    const char* name;
    haraka256_fn_t h256;
    haraka512_fn_t h512;
    haraka512_rc_fn_t h512_rc;
    bool needs_fast;
};

void PrintTo(const HarakaForm& form, std::ostream* os) {
    *os << form.name;
}

const HarakaForm kForms[] = {
    {"portable", haraka256_hash_portable, haraka512_hash_portable, haraka512_hash_rc_portable,
     false},
    {"fast", haraka256_hash_fast, haraka512_hash_fast, haraka512_hash_rc_fast, true},
};

class HarakaFormTest : public ::testing::TestWithParam<HarakaForm> {
  protected:
    void SetUp() override {
        if (GetParam().needs_fast && probe_fast_hash_support() != 1)
            GTEST_SKIP() << "processor lacks the fast instructions";
    }
};

enum class Op { H256, H512, H512Rc };
enum class Input { Counting, Zero };
enum class Table { Standard, Zero };

struct KnownAnswer {
    Op op;
    Input input;
    Table table;
    const char* expected_hex; // whole digest, or bytes 24..31 for H512Rc
};

const KnownAnswer kKnownAnswers[] = {
    {Op::H256, Input::Counting, Table::Standard,
     "8027ccb87949774b78d0545fb72bf70c695c2a0923cbd47bba1159efbf2b2c1c"},
    {Op::H256, Input::Zero, Table::Standard,
     "583066c7dd645eee22980f3c35971b702973d03a029eb246eb44eceb4a4f5863"},
    {Op::H512, Input::Counting, Table::Standard,
     "be7f723b4e80a99813b292287f306f625a6d57331cae5f34dd9277b0945be2aa"},
    {Op::H512, Input::Zero, Table::Standard,
     "6165454b61dae9b53d086b1a01d6764a911b2a4707cd23640ab148b3db65caf3"},
    {Op::H512Rc, Input::Counting, Table::Standard, "dd9277b0945be2aa"},
    {Op::H512Rc, Input::Counting, Table::Zero, "f16c7d3ac7668418"},
};

TEST_P(HarakaFormTest, KnownAnswers) {
    const HarakaForm& form = GetParam();
    alignas(16) static const uint8_t kZeroTable[640] = {};
    for (const KnownAnswer& ka : kKnownAnswers) {
        alignas(16) uint8_t in[64];
        for (int i = 0; i < 64; ++i)
            in[i] = ka.input == Input::Counting ? i : 0;
        const uint8_t* table = ka.table == Table::Standard ? HARAKA_RC : kZeroTable;
        uint8_t out[32] = {};
        std::string got;
        switch (ka.op) {
        case Op::H256:
            form.h256(out, in);
            got = to_hex(out, 32);
            break;
        case Op::H512:
            form.h512(out, in);
            got = to_hex(out, 32);
            break;
        case Op::H512Rc:
            form.h512_rc(out, in, table);
            got = to_hex(out + 24, 8);
            break;
        }
        EXPECT_EQ(got, ka.expected_hex) << form.name << " op " << static_cast<int>(ka.op);
    }
}

TEST_P(HarakaFormTest, LastRoundConstantsOfLanesOneAndThreeDoNotReachOutput) {
    alignas(16) uint8_t in[64], table[640];
    for (int i = 0; i < 64; ++i)
        in[i] = i;
    std::memcpy(table, HARAKA_RC, sizeof table);
    for (int entry : {37, 39})
        table[16 * entry + 5] ^= 0x5a;
    uint8_t out[32];
    GetParam().h512_rc(out, in, table);
    EXPECT_EQ(to_hex(out + 24, 8), "dd9277b0945be2aa");
    // Word 2 of lane 0's last key does reach it.
    table[16 * 36 + 8] ^= 1;
    GetParam().h512_rc(out, in, table);
    EXPECT_NE(to_hex(out + 24, 8), "dd9277b0945be2aa");
}

INSTANTIATE_TEST_SUITE_P(AllForms, HarakaFormTest, ::testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

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
        haraka256_hash_fast(fast, in);
        haraka256_hash_portable(soft, in);
        ASSERT_EQ(to_hex(fast, 32), to_hex(soft, 32)) << "haraka256, iteration " << iter;
        haraka512_hash_fast(fast, in);
        haraka512_hash_portable(soft, in);
        ASSERT_EQ(to_hex(fast, 32), to_hex(soft, 32)) << "haraka512, iteration " << iter;

        // The fast keyed form writes out[24..31] and nothing else.
        uint8_t sentinel[32];
        fill_random(rng, sentinel, sizeof sentinel);
        std::memcpy(fast, sentinel, 32);
        haraka512_hash_rc_fast(fast, in, table);
        haraka512_hash_rc_portable(soft, in, table);
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
