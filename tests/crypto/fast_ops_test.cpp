// The fast forms' block primitives of this architecture (FastOps on x86-64, NeonOps on
// aarch64) against the portable building blocks they stand in for, on the inputs where a
// mapping of one instruction set onto another goes wrong, then on random ones. Built with the
// fast forms' flags; skipped where the processor lacks them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/haraka/haraka.h"
#include "crypto/keyed_mix/keyed_mix.h"
#include "crypto/selection.h"
#if defined(__x86_64__)
#include "crypto/keyed_mix/ops_x86.h"
using ArchOps = FastOps;
#elif defined(__aarch64__)
#include "crypto/keyed_mix/ops_arm64.h"
using ArchOps = NeonOps;
#endif

namespace {

using B = ArchOps::block;

B to_block(soft_u128 v) {
    B r;
    std::memcpy(&r, &v, 16);
    return r;
}

soft_u128 from_block(B v) {
    soft_u128 r;
    std::memcpy(&r, &v, 16);
    return r;
}

soft_u128 lanes16(uint16_t a, uint16_t b) {
    // Every lane pair alike, so that any lane going wrong shows.
    const uint64_t half = uint64_t{a} | uint64_t{b} << 16 | uint64_t{a} << 32 | uint64_t{b} << 48;
    return {half, half};
}

soft_u128 bytes16(uint8_t b) {
    const uint64_t half = 0x0101010101010101ull * b;
    return {half, half};
}

// Lanes drawn often from the extremes, where rounding and wrap-around go wrong.
soft_u128 random_lanes(std::mt19937_64& rng) {
    static const uint16_t extremes[] = {0x8000, 0x8001, 0x7fff, 0xffff, 0x0000, 0x0001, 0x4000};
    uint16_t lanes[8];
    for (uint16_t& l : lanes) {
        const uint64_t r = rng();
        l = (r & 1) ? extremes[(r >> 1) % 7] : static_cast<uint16_t>(r >> 8);
    }
    soft_u128 v;
    std::memcpy(&v, lanes, 16);
    return v;
}

#define EXPECT_SAME128(want, got)                                                                  \
    do {                                                                                           \
        const soft_u128 want_ = (want), got_ = from_block(got);                                    \
        EXPECT_EQ(got_.lo, want_.lo);                                                              \
        EXPECT_EQ(got_.hi, want_.hi);                                                              \
    } while (0)

soft_u128 aes_soft(soft_u128 x, soft_u128 k) {
    uint8_t xb[16], kb[16];
    std::memcpy(xb, &x, 16);
    std::memcpy(kb, &k, 16);
    aes_round_soft(xb, kb);
    std::memcpy(&x, xb, 16);
    return x;
}

class FastOpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (probe_fast_hash_support() != 1) GTEST_SKIP() << "processor lacks the fast forms";
    }
};

// Each row is an edge of one mapping; |op| names the primitive the row drives.
struct EdgeRow {
    const char* what;
    enum Op { mh, shuffle, cl, aes, reduce } op;
    soft_u128 a, b;
};

const EdgeRow kEdgeRows[] = {
    // A rounding multiply that saturates instead of wrapping differs at (-32768, -32768).
    {"mh (-32768, -32768)", EdgeRow::mh, lanes16(0x8000, 0x8000), lanes16(0x8000, 0x8000)},
    {"mh (-32768, -32767)", EdgeRow::mh, lanes16(0x8000, 0x8000), lanes16(0x8001, 0x8001)},
    {"mh (1, 16384)", EdgeRow::mh, lanes16(1, 1), lanes16(0x4000, 0x4000)},
    {"mh (-1, 16384)", EdgeRow::mh, lanes16(0xffff, 0xffff), lanes16(0x4000, 0x4000)},
    {"mh (-1, 16385)", EdgeRow::mh, lanes16(0xffff, 0xffff), lanes16(0x4001, 0x4001)},
    // A table lookup that zeroes indices 0x10..0x7f, or keeps bits 4..6, differs here.
    {"shuffle index 0x0f",
     EdgeRow::shuffle,
     {0x0706050403020100, 0x0f0e0d0c0b0a0908},
     bytes16(0x0f)},
    {"shuffle index 0x10",
     EdgeRow::shuffle,
     {0x0706050403020100, 0x0f0e0d0c0b0a0908},
     bytes16(0x10)},
    {"shuffle index 0x7f",
     EdgeRow::shuffle,
     {0x0706050403020100, 0x0f0e0d0c0b0a0908},
     bytes16(0x7f)},
    {"shuffle index 0x80",
     EdgeRow::shuffle,
     {0x0706050403020100, 0x0f0e0d0c0b0a0908},
     bytes16(0x80)},
    {"shuffle index 0x8f",
     EdgeRow::shuffle,
     {0x0706050403020100, 0x0f0e0d0c0b0a0908},
     bytes16(0x8f)},
    {"shuffle index 0xff",
     EdgeRow::shuffle,
     {0x0706050403020100, 0x0f0e0d0c0b0a0908},
     bytes16(0xff)},
    // A product of the wrong halves differs once lo != hi; the top bits test the high half.
    {"cl lo != hi", EdgeRow::cl, {0x0123456789abcdef, 0xfedcba9876543211}, {}},
    {"cl all ones", EdgeRow::cl, {~0ull, ~0ull}, {}},
    {"cl 2^63 x 2^63", EdgeRow::cl, {1ull << 63, 1ull << 63}, {}},
    // AES(0, 0) is all 0x63: SubBytes of zero, MixColumns of a constant column.
    {"aes (0, 0)", EdgeRow::aes, {0, 0}, {0, 0}},
    {"aes (0, k)", EdgeRow::aes, {0, 0}, {0x0123456789abcdef, 0xfedcba9876543210}},
    {"reduce 0", EdgeRow::reduce, {0, 0}, {}},
    {"reduce all ones", EdgeRow::reduce, {~0ull, ~0ull}, {}},
    {"reduce top bit of hi", EdgeRow::reduce, {0, 1ull << 63}, {}},
};

void expect_same(EdgeRow::Op op, soft_u128 a, soft_u128 b) {
    switch (op) {
    case EdgeRow::mh:
        EXPECT_SAME128(mulhrs16_soft(a, b), ArchOps::mh(to_block(a), to_block(b)));
        break;
    case EdgeRow::shuffle:
        EXPECT_SAME128(shuffle_bytes_soft(a, b), ArchOps::shuffle(to_block(a), to_block(b)));
        break;
    case EdgeRow::cl:
        EXPECT_SAME128(clmul_select_soft(a, a, 0x10), ArchOps::cl(to_block(a)));
        break;
    case EdgeRow::aes:
        EXPECT_SAME128(aes_soft(a, b), ArchOps::aes(to_block(a), to_block(b)));
        break;
    case EdgeRow::reduce:
        EXPECT_EQ(ArchOps::reduce64(to_block(a)), clhash_reduce64_portable(to_block(a)));
        break;
    }
}

TEST_F(FastOpsTest, EdgesOfEachMapping) {
    for (const EdgeRow& row : kEdgeRows) {
        SCOPED_TRACE(row.what);
        expect_same(row.op, row.a, row.b);
    }
    EXPECT_SAME128(bytes16(0x63), ArchOps::aes(to_block({0, 0}), to_block({0, 0})));
}

TEST_F(FastOpsTest, RandomInputs) {
    std::mt19937_64 rng(1);
    for (int i = 0; i < 4000; ++i) {
        const soft_u128 a{rng(), rng()}, b{rng(), rng()};
        expect_same(EdgeRow::shuffle, a, b);
        expect_same(EdgeRow::cl, a, b);
        expect_same(EdgeRow::aes, a, b);
        expect_same(EdgeRow::reduce, a, b);
        expect_same(EdgeRow::mh, random_lanes(rng), random_lanes(rng));
        // Each pair of halves of the carry-less product, as the portable selectors pick them.
        for (unsigned sel : {0x00u, 0x01u, 0x10u, 0x11u}) {
            const soft_u128 halves{(sel & 0x01) ? a.hi : a.lo, (sel & 0x10) ? b.hi : b.lo};
            EXPECT_SAME128(clmul_select_soft(a, b, sel), ArchOps::cl(to_block(halves)));
        }
        // The blend takes each byte by its mask byte's top bit alone; the interleaves and the
        // byte comparison mask are lane moves that another instruction set spells otherwise.
        const soft_u128 m{rng(), rng()};
        uint8_t ab[16], bb[16], mb[16], want[16];
        std::memcpy(ab, &a, 16), std::memcpy(bb, &b, 16), std::memcpy(mb, &m, 16);
        const uint8_t byte = ab[m.lo % 16]; // present at least once
        uint16_t equal = 0;
        for (int j = 0; j < 16; ++j) {
            want[j] = (mb[j] & 0x80) ? bb[j] : ab[j];
            equal |= static_cast<uint16_t>((ab[j] == byte) << j);
        }
        soft_u128 picked;
        std::memcpy(&picked, want, 16);
        EXPECT_SAME128(picked, ArchOps::pick(to_block(a), to_block(b), to_block(m)));
        EXPECT_EQ(ArchOps::equal_bytes(to_block(a), byte), equal);
        uint8_t lo[16], hi[16];
        interleave_lo32(lo, ab, bb);
        interleave_hi32(hi, ab, bb);
        soft_u128 lo_want, hi_want;
        std::memcpy(&lo_want, lo, 16), std::memcpy(&hi_want, hi, 16);
        EXPECT_SAME128(lo_want, ArchOps::lo32(to_block(a), to_block(b)));
        EXPECT_SAME128(hi_want, ArchOps::hi32(to_block(a), to_block(b)));
        if (HasFailure()) return;
    }
}

} // namespace
