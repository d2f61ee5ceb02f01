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

// bits_as copies the 16 bytes of |v| into another 16-byte type.
template <class To, class From> To bits_as(const From& v) {
    static_assert(sizeof(To) == 16 && sizeof(From) == 16, "16-byte values");
    To r;
    std::memcpy(&r, &v, 16);
    return r;
}

// repeated fills 16 bytes with |pattern|, |n| bytes long (1 or 2: bytes or 16-bit lanes).
soft_u128 repeated(uint16_t pattern, int n) {
    uint64_t half = 0;
    for (int i = 0; i < 64; i += 8 * n)
        half |= uint64_t{pattern} << i;
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
    return bits_as<soft_u128>(lanes);
}

#define EXPECT_SAME128(want, got)                                                                  \
    do {                                                                                           \
        const soft_u128 want_ = (want), got_ = bits_as<soft_u128>(got);                            \
        EXPECT_EQ(got_.lo, want_.lo);                                                              \
        EXPECT_EQ(got_.hi, want_.hi);                                                              \
    } while (0)

class FastOpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (probe_fast_hash_support() != 1) GTEST_SKIP() << "processor lacks the fast forms";
    }
};

enum class Op { mh, shuffle, cl, aes, reduce };

// expect_same runs |op| on (a, b) in both forms.
void expect_same(Op op, soft_u128 a, soft_u128 b) {
    const B va = bits_as<B>(a), vb = bits_as<B>(b);
    switch (op) {
    case Op::mh: EXPECT_SAME128(mulhrs16_soft(a, b), ArchOps::mh(va, vb)); break;
    case Op::shuffle: EXPECT_SAME128(shuffle_bytes_soft(a, b), ArchOps::shuffle(va, vb)); break;
    case Op::cl: EXPECT_SAME128(clmul_select_soft(a, a, 0x10), ArchOps::cl(va)); break;
    case Op::aes: {
        uint8_t x[16], k[16];
        std::memcpy(x, &a, 16), std::memcpy(k, &b, 16);
        aes_round_soft(x, k);
        EXPECT_SAME128(bits_as<soft_u128>(x), ArchOps::aes(va, vb));
        break;
    }
    case Op::reduce: EXPECT_EQ(ArchOps::reduce64(va), clhash_reduce64_portable(va)); break;
    }
}

// Each row is an edge of one mapping.
const soft_u128 kCounting{0x0706050403020100, 0x0f0e0d0c0b0a0908};
const struct {
    const char* what;
    Op op;
    soft_u128 a, b;
} kEdgeRows[] = {
    // A rounding multiply that saturates instead of wrapping differs at (-32768, -32768).
    {"mh (-32768, -32768)", Op::mh, repeated(0x8000, 2), repeated(0x8000, 2)},
    {"mh (-32768, -32767)", Op::mh, repeated(0x8000, 2), repeated(0x8001, 2)},
    {"mh (1, 16384)", Op::mh, repeated(1, 2), repeated(0x4000, 2)},
    {"mh (-1, 16384)", Op::mh, repeated(0xffff, 2), repeated(0x4000, 2)},
    {"mh (-1, 16385)", Op::mh, repeated(0xffff, 2), repeated(0x4001, 2)},
    // A table lookup that zeroes indices 0x10..0x7f, or keeps bits 4..6, differs here.
    {"shuffle index 0x0f", Op::shuffle, kCounting, repeated(0x0f, 1)},
    {"shuffle index 0x10", Op::shuffle, kCounting, repeated(0x10, 1)},
    {"shuffle index 0x7f", Op::shuffle, kCounting, repeated(0x7f, 1)},
    {"shuffle index 0x80", Op::shuffle, kCounting, repeated(0x80, 1)},
    {"shuffle index 0x8f", Op::shuffle, kCounting, repeated(0x8f, 1)},
    {"shuffle index 0xff", Op::shuffle, kCounting, repeated(0xff, 1)},
    // A product of the wrong halves differs once lo != hi; the top bits test the high half.
    {"cl lo != hi", Op::cl, {0x0123456789abcdef, 0xfedcba9876543211}, {}},
    {"cl all ones", Op::cl, {~0ull, ~0ull}, {}},
    {"cl 2^63 x 2^63", Op::cl, {1ull << 63, 1ull << 63}, {}},
    // AES(0, 0) is all 0x63 (checked below too): SubBytes of zero, then a constant column.
    {"aes (0, 0)", Op::aes, {0, 0}, {0, 0}},
    {"aes (0, k)", Op::aes, {0, 0}, {0x0123456789abcdef, 0xfedcba9876543210}},
    {"reduce 0", Op::reduce, {0, 0}, {}},
    {"reduce all ones", Op::reduce, {~0ull, ~0ull}, {}},
    {"reduce top bit of hi", Op::reduce, {0, 1ull << 63}, {}},
};

TEST_F(FastOpsTest, EdgesOfEachMapping) {
    for (const auto& row : kEdgeRows) {
        SCOPED_TRACE(row.what);
        expect_same(row.op, row.a, row.b);
    }
    EXPECT_SAME128(repeated(0x63, 1), ArchOps::aes(bits_as<B>(soft_u128{}), ArchOps::zero()));
}

TEST_F(FastOpsTest, RandomInputs) {
    std::mt19937_64 rng(1);
    for (int i = 0; i < 4000 && !HasFailure(); ++i) {
        const soft_u128 a{rng(), rng()}, b{rng(), rng()}, m{rng(), rng()};
        for (Op op : {Op::shuffle, Op::cl, Op::aes, Op::reduce})
            expect_same(op, a, b);
        expect_same(Op::mh, random_lanes(rng), random_lanes(rng));
        // Each pair of halves of the carry-less product, as the portable selectors pick them.
        for (unsigned sel : {0x00u, 0x01u, 0x10u, 0x11u}) {
            const soft_u128 halves{(sel & 0x01) ? a.hi : a.lo, (sel & 0x10) ? b.hi : b.lo};
            EXPECT_SAME128(clmul_select_soft(a, b, sel), ArchOps::cl(bits_as<B>(halves)));
        }
        // The blend takes each byte by its mask byte's top bit alone; the interleaves and the
        // byte-equality mask are lane moves that another instruction set spells otherwise.
        uint8_t ab[16], bb[16], mb[16], picked[16], lo[16], hi[16];
        std::memcpy(ab, &a, 16), std::memcpy(bb, &b, 16), std::memcpy(mb, &m, 16);
        const uint8_t byte = ab[m.lo % 16]; // present at least once
        uint16_t equal = 0;
        for (int j = 0; j < 16; ++j) {
            picked[j] = (mb[j] & 0x80) ? bb[j] : ab[j];
            equal |= static_cast<uint16_t>((ab[j] == byte) << j);
        }
        interleave_lo32(lo, ab, bb);
        interleave_hi32(hi, ab, bb);
        const B va = bits_as<B>(a), vb = bits_as<B>(b);
        EXPECT_SAME128(bits_as<soft_u128>(picked), ArchOps::pick(va, vb, bits_as<B>(m)));
        EXPECT_EQ(ArchOps::equal_bytes(va, byte), equal);
        EXPECT_SAME128(bits_as<soft_u128>(lo), ArchOps::lo32(va, vb));
        EXPECT_SAME128(bits_as<soft_u128>(hi), ArchOps::hi32(va, vb));
    }
}

} // namespace
