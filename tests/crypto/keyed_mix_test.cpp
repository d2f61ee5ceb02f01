#include "crypto/keyed_mix/keyed_mix.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/form_fixture.h"
#include "tests/support/hex.h"
#include "tests/support/steer_key.h"

namespace {

using namespace steer;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using KeyBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

KeyBuffer NewKeyBuffer() {
    return KeyBuffer(static_cast<uint8_t*>(std::aligned_alloc(32, 2 * kKeyBytes)));
}

vec128* Entries(const KeyBuffer& k) {
    return reinterpret_cast<vec128*>(k.get());
}

// MixForm: one variant (0 to 2: A to C) of one form record.
struct MixForm {
    const HashForms* forms;
    int variant;
};

void PrintTo(const MixForm& form, std::ostream* os) {
    *os << static_cast<char>('A' + form.variant) << form.forms->name;
}

std::vector<MixForm> every_mix_form() {
    std::vector<MixForm> all;
    for (const HashForms* forms : kEveryForm)
        for (int v = 0; v < 3; ++v)
            all.push_back({forms, v});
    return all;
}

// The worked values of variants A to C.
struct WorkedValue {
    const char* mix128_hex;
    uint64_t mix64;
    int second_r, second_x; // -1: not given
};

const WorkedValue kWorked[] = {
    {"8b47c9bf8ff90297cfd82141912ba3b2", 0xffcc60a267b964cbull, -1, -1},
    {"2efe252550224a7a12936a2770cddd88", 0x281ec9430166e207ull, 135, 265},
    {"56a7ab29f1c64dbb03c331680445d877", 0xe0637198536aca17ull, 135, 265},
};

class KeyedMixFormTest : public ::testing::TestWithParam<MixForm> {
  protected:
    void SetUp() override {
        if (!runnable_here(*GetParam().forms)) GTEST_SKIP() << "no AES-NI/PCLMULQDQ/AVX";
    }
};

TEST_P(KeyedMixFormTest, WorkedValues) {
    const keyed_mix128_fn mix128 = GetParam().forms->mix128[GetParam().variant];
    const keyed_mix64_fn mix64 = GetParam().forms->mix64[GetParam().variant];
    const WorkedValue* want = &kWorked[GetParam().variant];

    KeyBuffer buf = NewKeyBuffer();
    alignas(16) uint8_t block[64];
    for (int i = 0; i < 64; ++i)
        block[i] = static_cast<uint8_t>(i);
    // The touch list sits where the hasher keeps it, behind the backup area.
    vec128** touch = reinterpret_cast<vec128**>(buf.get() + kTouchListOffset);

    for (size_t j = 0; j < kKeyBytes; ++j)
        buf.get()[j] = static_cast<uint8_t>(j % 251);
    const vec128 acc =
        mix128(Entries(buf), reinterpret_cast<const vec128*>(block), kKeyIndexMask, touch);
    EXPECT_EQ(to_hex(&acc, 16), want->mix128_hex);
    EXPECT_EQ(touch[0], Entries(buf) + 397);
    EXPECT_EQ(touch[1], Entries(buf) + 436);
    if (want->second_r >= 0) {
        EXPECT_EQ(touch[2], Entries(buf) + want->second_r);
        EXPECT_EQ(touch[3], Entries(buf) + want->second_x);
    }
    for (int r = 0; r < kTouchEntries; ++r) {
        EXPECT_GE(touch[r], Entries(buf));
        EXPECT_LT(touch[r], Entries(buf) + kIndexedEntries);
    }

    for (size_t j = 0; j < kKeyBytes; ++j)
        buf.get()[j] = static_cast<uint8_t>(j % 251);
    EXPECT_EQ(mix64(Entries(buf), reinterpret_cast<const vec128*>(block), kKeyIndexMask, touch),
              want->mix64);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(block[i], i) << "the block was written";
}

INSTANTIATE_TEST_SUITE_P(AllForms, KeyedMixFormTest, ::testing::ValuesIn(every_mix_form()),
                         [](const ::testing::TestParamInfo<MixForm>& info) {
                             return static_cast<char>('A' + info.param.variant) +
                                    std::string(info.param.forms->name);
                         });

// One input, run through the fast and the portable form of one variant.
struct MixInput {
    KeyBuffer key = NewKeyBuffer();
    alignas(16) uint8_t block[64];

    explicit MixInput(std::mt19937_64& rng) {
        for (size_t j = 0; j < kKeyBytes; j += 8)
            store_le64(key.get() + j, rng());
        for (int j = 0; j < 64; j += 8)
            store_le64(block + j, rng());
    }
    uint8_t* Entry(size_t e) { return key.get() + 16 * e; }
    uint64_t Sel() { return load_le64(Entry(kStartEntry)); }
    // The low half of working block j as the variant sees it.
    uint64_t WorkLo(char variant, uint64_t j) { return working_lo(block, j, variant != 'a'); }
};

// ExpectFormsAgree runs variant |v| of both form records on |in|.
void ExpectFormsAgree(int v, MixInput& in, bool wide) {
    KeyBuffer k1 = NewKeyBuffer(), k2 = NewKeyBuffer();
    std::memcpy(k1.get(), in.key.get(), kKeyBytes);
    std::memcpy(k2.get(), in.key.get(), kKeyBytes);
    alignas(16) uint8_t block[64];
    std::memcpy(block, in.block, 64);
    const auto* b = reinterpret_cast<const vec128*>(block);
    vec128* t1[kTouchEntries];
    vec128* t2[kTouchEntries];
    if (wide) {
        const vec128 r1 = kFastForms.mix128[v](Entries(k1), b, kKeyIndexMask, t1);
        const vec128 r2 = kPortableForms.mix128[v](Entries(k2), b, kKeyIndexMask, t2);
        ASSERT_EQ(to_hex(&r1, 16), to_hex(&r2, 16));
    } else {
        ASSERT_EQ(kFastForms.mix64[v](Entries(k1), b, kKeyIndexMask, t1),
                  kPortableForms.mix64[v](Entries(k2), b, kKeyIndexMask, t2));
    }
    ASSERT_EQ(std::memcmp(k1.get(), k2.get(), kKeyBytes), 0) << "key contents differ";
    for (int r = 0; r < kTouchEntries; ++r)
        ASSERT_EQ(t1[r] - Entries(k1), t2[r] - Entries(k2)) << r;
    // The first picks come from the start value, so the steered case was really taken.
    const uint64_t sel = in.Sel();
    ASSERT_EQ(t1[0] - Entries(k1), static_cast<ptrdiff_t>((sel >> 5) & kEntryIndexMask));
    ASSERT_EQ(t1[1] - Entries(k1), static_cast<ptrdiff_t>((sel >> 32) & kEntryIndexMask));
    ASSERT_EQ(std::memcmp(block, in.block, 64), 0) << "the block was written";
}

class KeyedMixVariantTest : public ::testing::TestWithParam<char> {
  protected:
    void SetUp() override {
        if (probe_fast_hash_support() != 1) GTEST_SKIP() << "no AES-NI/PCLMULQDQ/AVX";
    }
    const int v_ = GetParam() - 'a';
};

TEST_P(KeyedMixVariantTest, FastMatchesPortableOnRandomInputs) {
    std::mt19937_64 rng(0x5eed0000 + GetParam());
    for (int trial = 0; trial < 3000; ++trial) {
        MixInput in(rng);
        ExpectFormsAgree(v_, in, trial & 1);
        if (HasFatalFailure()) FAIL() << "trial " << trial;
    }
}

// Steered first iterations: each row forces a case and a corner of it; the rest of the
// selector stays random.
const SteerRow kSteerRows[] = {
    {"0c negative odd dividend", 0x0c, -1, 0, 0, kNegOddDividend},
    {"0c negative even dividend", 0x0c, -1, 0, 0, kNegEvenDividend},
    {"14 n=7, all AES rounds", 0x14, 7, 0, kRoundTests, kPlain},
    {"14 n=7, all clmul rounds", 0x14, 7, kRoundTests, 0, kPlain},
    {"14 n=0", 0x14, 0, 0, 0, kPlain},
    {"14 n=3, bit 31 clear", 0x14, 3, 0, 1ull << 31, kPlain},
    {"18 n=7, negative remainders", 0x18, 7, kRoundTests, 0, kNegRemainders},
    {"18 n=7, all multiply rounds", 0x18, 7, 0, kRoundTests, kPlain},
    {"18 n=0", 0x18, 0, 0, 0, kPlain},
    {"08 lanes of -32768", 0x08, -1, 2, 1, kMinLanes},
};

TEST_P(KeyedMixVariantTest, FastMatchesPortableOnSteeredCases) {
    const char v = GetParam();
    std::vector<SteerRow> rows(std::begin(kSteerRows), std::end(kSteerRows));
    for (uint64_t c = 0; c < 0x20; c += 4) {
        rows.push_back({"plain case", c, -1, 0, 0, kPlain});
        rows.push_back({"R == X", c, -1, 0, 0, kRequalsX});
    }
    std::mt19937_64 rng(0xca5e0000 + v);
    for (const SteerRow& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.what << ", case " << std::hex << row.case_bits);
        for (int trial = 0; trial < 40; ++trial) {
            MixInput in(rng);
            const uint64_t sel = steered_selector(in.Sel(), row);
            store_le64(in.Entry(kStartEntry), sel);
            const uint64_t r = (sel >> 5) & kEntryIndexMask, x = (sel >> 32) & kEntryIndexMask;
            ASSERT_EQ(sel & 0x1c, row.case_bits);
            const uint64_t p = in.WorkLo(v, sel & 3), q = in.WorkLo(v, (sel & 3) ^ 1);
            // Variant A's 0x18 case has no rounds.
            if (row.tweak != kNegRemainders || v != 'a')
                steer_entries(row, sel, in.block, v != 'a', in.key.get(), nullptr, rng);

            if (row.tweak == kNegOddDividend || row.tweak == kNegEvenDividend) {
                const int64_t got = static_cast<int64_t>(sel ^ q ^ load_le64(in.Entry(r)));
                ASSERT_LT(got, 0);
                ASSERT_EQ(got & 1, row.tweak == kNegOddDividend ? 1 : 0);
            } else if (row.tweak == kNegRemainders && v != 'a') {
                for (uint64_t m = 0; m <= 7 && r + m < kStartEntry; ++m) {
                    const uint64_t mask = (7 - m) & 1 ? p : q;
                    ASSERT_LT(static_cast<int64_t>(load_le64(in.Entry(r + m)) ^ mask), 0);
                }
            } else if (row.tweak == kMinLanes) {
                // With P = W[2] = s2 set to the start value, acc ^ P ^ t1 is t1: all -32768.
                ASSERT_EQ(sel & 3, 2u);
                const uint64_t m = 0x8000800080008000ull;
                store_le64(in.Entry(x), m);
                store_le64(in.Entry(x) + 8, m);
                std::memcpy(in.block + 32, in.Entry(kStartEntry), 16);
                ASSERT_EQ(sel ^ in.WorkLo(v, 2) ^ load_le64(in.Entry(x)), m);
            }
            ExpectFormsAgree(v_, in, trial & 1);
            if (HasFatalFailure()) FAIL() << "trial " << trial;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllVariants, KeyedMixVariantTest, ::testing::Values('a', 'b', 'c'),
                         [](const ::testing::TestParamInfo<char>& info) {
                             return std::string("Variant") + static_cast<char>(info.param - 32);
                         });

// A bit-at-a-time product, independent of the table method under test.
soft_u128 ShiftXorProduct(uint64_t a, uint64_t b) {
    soft_u128 r{0, 0};
    for (int i = 0; i < 64; ++i) {
        if (!((a >> i) & 1)) continue;
        r.lo ^= b << i;
        if (i) r.hi ^= b >> (64 - i);
    }
    return r;
}

TEST(ClmulSoft, MatchesShiftXorProduct) {
    std::mt19937_64 rng(42);
    const uint64_t edges[] = {
        0, 1, ~0ull, 1ull << 63, 0xE000000000000000ull, 0x8888888888888888ull};
    for (uint64_t a : edges)
        for (uint64_t b : edges) {
            const soft_u128 got = clmul64_soft(a, b), want = ShiftXorProduct(a, b);
            EXPECT_EQ(got.lo, want.lo) << std::hex << a << " " << b;
            EXPECT_EQ(got.hi, want.hi) << std::hex << a << " " << b;
        }
    for (int i = 0; i < 5000; ++i) {
        const uint64_t a = rng(), b = rng();
        const soft_u128 got = clmul64_soft(a, b), want = ShiftXorProduct(a, b);
        ASSERT_EQ(got.lo, want.lo) << std::hex << a << " " << b;
        ASSERT_EQ(got.hi, want.hi) << std::hex << a << " " << b;
    }
}

TEST(MulhrsSoft, MostNegativeLanesWrapTo0x8000) {
    const soft_u128 m{0x8000800080008000ull, 0x8000800080008000ull};
    const soft_u128 got = mulhrs16_soft(m, m);
    EXPECT_EQ(got.lo, m.lo);
    EXPECT_EQ(got.hi, m.hi);
}

TEST(ClhashReducePortable, LengthTermAndFold) {
    // Zero gives only the length term; a top bit of hi folds to x^63 and T[0x1b >> 1].
    const struct {
        uint64_t lo, hi, want;
    } rows[] = {
        {0, 0, 0x10000},
        {0x10000, 0, 0},
        {0, 1, 0x10000 ^ 0x1b},
        {0, 1ull << 63, 0x10000 ^ (1ull << 63) ^ 0xaf},
    };
    for (const auto& row : rows) {
        vec128 acc;
        const uint64_t halves[2] = {row.lo, row.hi};
        std::memcpy(&acc, halves, sizeof acc);
        EXPECT_EQ(clhash_reduce64_portable(acc), row.want) << std::hex << row.lo << " " << row.hi;
    }
}

} // namespace
