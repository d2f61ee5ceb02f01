// The fast forms of Haraka, written once over an architecture's AES primitives (AesOps of
// crypto/haraka/aes_ops_x86.h or aes_ops_arm64.h): every lane in a register, all rounds
// unrolled, no calls. The rounds are also pieces of the nonce paths' keyed Haraka-512/256.
// Include only after the AesOps of a file compiled with the fast forms' flags.
#pragma once

#include <cstdint>

#include "crypto/base/bytes.h"

namespace haraka {

template <class A> using Block = typename A::block;

// rc_at loads constant |i| of the 16-byte aligned table |rc|.
template <class A> ZANTU_INLINE Block<A> rc_at(const uint8_t* rc, int i) {
    return A::load(rc + 16 * i);
}

// aes512 runs the two AES rounds of Haraka-512 round |r|, the four lanes side by side.
template <class A>
ZANTU_INLINE void aes512(Block<A>& s0, Block<A>& s1, Block<A>& s2, Block<A>& s3, const uint8_t* rc,
                         int r) {
    s0 = A::aes2(s0, rc_at<A>(rc, 8 * r + 0), rc_at<A>(rc, 8 * r + 4));
    s1 = A::aes2(s1, rc_at<A>(rc, 8 * r + 1), rc_at<A>(rc, 8 * r + 5));
    s2 = A::aes2(s2, rc_at<A>(rc, 8 * r + 2), rc_at<A>(rc, 8 * r + 6));
    s3 = A::aes2(s3, rc_at<A>(rc, 8 * r + 3), rc_at<A>(rc, 8 * r + 7));
}

// mix512 is the word mix that ends every Haraka-512 round.
template <class A>
ZANTU_INLINE void mix512(Block<A>& s0, Block<A>& s1, Block<A>& s2, Block<A>& s3) {
    const Block<A> t = A::lo32(s0, s1);
    s0 = A::hi32(s0, s1);
    s1 = A::lo32(s2, s3);
    s2 = A::hi32(s2, s3);
    s3 = A::lo32(s0, s2);
    s0 = A::hi32(s0, s2);
    s2 = A::hi32(s1, t);
    s1 = A::lo32(s1, t);
}

// rounds512 runs rounds 0..3 in full and the AES steps of round 4; the caller does the last mix.
template <class A>
ZANTU_INLINE void rounds512(Block<A>& s0, Block<A>& s1, Block<A>& s2, Block<A>& s3,
                            const uint8_t* rc) {
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {
        aes512<A>(s0, s1, s2, s3, rc, r);
        mix512<A>(s0, s1, s2, s3);
    }
    aes512<A>(s0, s1, s2, s3, rc, 4);
}

// rc_low returns, in its low 8 bytes, out[24..31] of Haraka-512/256 of the block s0..s3 under
// |rc|: only the last mix's s3 = lo(hi(s0, s1), hi(s2, s3)) reaches them.
template <class A>
ZANTU_INLINE Block<A> rc_low(Block<A> s0, Block<A> s1, Block<A> s2, Block<A> s3,
                             const uint8_t* rc) {
    const Block<A> in3 = s3;
    rounds512<A>(s0, s1, s2, s3, rc);
    return A::xor_(A::lo32(A::hi32(s0, s1), A::hi32(s2, s3)), in3);
}

// hash256 is haraka256_hash_fast's body: |in| 16-byte aligned, |out| anywhere.
template <class A> ZANTU_INLINE void hash256(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    const Block<A> in0 = A::load(in), in1 = A::load(in + 16);
    Block<A> s0 = in0, s1 = in1;
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) {
        s0 = A::aes2(s0, rc_at<A>(rc, 4 * r), rc_at<A>(rc, 4 * r + 2));
        s1 = A::aes2(s1, rc_at<A>(rc, 4 * r + 1), rc_at<A>(rc, 4 * r + 3));
        const Block<A> t = A::lo32(s0, s1);
        s1 = A::hi32(s0, s1);
        s0 = t;
    }
    A::store_unaligned(out, A::xor_(s0, in0));
    A::store_unaligned(out + 16, A::xor_(s1, in1));
}

// hash512 is haraka512_hash_fast's body: |in| 16-byte aligned, |out| anywhere.
template <class A> ZANTU_INLINE void hash512(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    const Block<A> in0 = A::load(in), in1 = A::load(in + 16);
    const Block<A> in2 = A::load(in + 32), in3 = A::load(in + 48);
    Block<A> s0 = in0, s1 = in1, s2 = in2, s3 = in3;
    rounds512<A>(s0, s1, s2, s3, rc);
    mix512<A>(s0, s1, s2, s3);
    s0 = A::xor_(s0, in0);
    s1 = A::xor_(s1, in1);
    s2 = A::xor_(s2, in2);
    s3 = A::xor_(s3, in3);
    // Truncation keeps the high halves of lanes 0 and 1 and the low halves of lanes 2 and 3.
    A::store_unaligned(out, A::hi64(s0, s1));
    A::store_unaligned(out + 16, A::lo64(s2, s3));
}

} // namespace haraka
