// The portable building blocks against the instructions they stand in for.
#include "crypto/keyed_mix/keyed_mix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <immintrin.h>
#include <random>

#include "crypto/selection.h"

namespace {

__m128i ToVec(soft_u128 v) {
    __m128i r;
    std::memcpy(&r, &v, 16);
    return r;
}

soft_u128 FromVec(__m128i v) {
    soft_u128 r;
    std::memcpy(&r, &v, 16);
    return r;
}

soft_u128 Random(std::mt19937_64& rng) {
    return {rng(), rng()};
}

// Lanes drawn often from the extremes, where rounding and wrap-around go wrong.
soft_u128 RandomLanes(std::mt19937_64& rng) {
    static const uint16_t extremes[] = {0x8000, 0x7fff, 0xffff, 0x0000, 0x0001, 0x4000, 0xc000};
    uint16_t lanes[8];
    for (uint16_t& l : lanes) {
        const uint64_t r = rng();
        l = (r & 1) ? extremes[(r >> 1) % 7] : static_cast<uint16_t>(r >> 8);
    }
    soft_u128 v;
    std::memcpy(&v, lanes, 16);
    return v;
}

#define EXPECT_SAME128(soft, vec)                                                                  \
    do {                                                                                           \
        const soft_u128 want_ = FromVec(vec), got_ = (soft);                                       \
        ASSERT_EQ(got_.lo, want_.lo);                                                              \
        ASSERT_EQ(got_.hi, want_.hi);                                                              \
    } while (0)

TEST(KeyedMixBlocksIntrinsics, ClmulSelectSoftMatchesPclmulqdq) {
    if (probe_fast_hash_support() != 1) GTEST_SKIP() << "no AES-NI/PCLMULQDQ/AVX";
    std::mt19937_64 rng(1);
    for (int i = 0; i < 4000; ++i) {
        const soft_u128 x = Random(rng), y = Random(rng);
        const __m128i vx = ToVec(x), vy = ToVec(y);
        EXPECT_SAME128(clmul_select_soft(x, y, 0x00), _mm_clmulepi64_si128(vx, vy, 0x00));
        EXPECT_SAME128(clmul_select_soft(x, y, 0x01), _mm_clmulepi64_si128(vx, vy, 0x01));
        EXPECT_SAME128(clmul_select_soft(x, y, 0x10), _mm_clmulepi64_si128(vx, vy, 0x10));
        EXPECT_SAME128(clmul_select_soft(x, y, 0x11), _mm_clmulepi64_si128(vx, vy, 0x11));
    }
}

TEST(KeyedMixBlocksIntrinsics, ShuffleBytesSoftMatchesPshufb) {
    std::mt19937_64 rng(2);
    for (int i = 0; i < 4000; ++i) {
        const soft_u128 t = Random(rng), idx = Random(rng);
        EXPECT_SAME128(shuffle_bytes_soft(t, idx), _mm_shuffle_epi8(ToVec(t), ToVec(idx)));
    }
}

TEST(KeyedMixBlocksIntrinsics, Mulhrs16SoftMatchesPmulhrsw) {
    std::mt19937_64 rng(3);
    for (int i = 0; i < 4000; ++i) {
        const soft_u128 a = RandomLanes(rng), b = RandomLanes(rng);
        EXPECT_SAME128(mulhrs16_soft(a, b), _mm_mulhrs_epi16(ToVec(a), ToVec(b)));
    }
    // All lanes of -32768 squared: MulhrsSoft.MostNegativeLanesWrapTo0x8000.
}

TEST(KeyedMixBlocksIntrinsics, ClhashReducePortableMatchesFast) {
    if (probe_fast_hash_support() != 1) GTEST_SKIP() << "no AES-NI/PCLMULQDQ/AVX";
    std::mt19937_64 rng(4);
    const soft_u128 edges[] = {{0, 0}, {~0ull, ~0ull}, {0, ~0ull}, {0x10000, 0}, {0, 1ull << 63}};
    for (const soft_u128& e : edges)
        EXPECT_EQ(clhash_reduce64_portable(ToVec(e)), clhash_reduce64_fast(ToVec(e)));
    for (int i = 0; i < 4000; ++i) {
        const __m128i acc = ToVec(Random(rng));
        ASSERT_EQ(clhash_reduce64_portable(acc), clhash_reduce64_fast(acc));
    }
}

} // namespace
