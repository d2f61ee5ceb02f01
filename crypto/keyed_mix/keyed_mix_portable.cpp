// The portable forms: the same iterations on 128-bit values held as two 64-bit halves, built
// from plain integer building blocks and the portable AES round.
#include "crypto/keyed_mix/keyed_mix.h"
#include "crypto/keyed_mix/keyed_mix_rounds.h"

#include <cstring>

#include "crypto/haraka/haraka.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "entries are read as little-endian halves straight from memory");

soft_u128 clmul64_soft(uint64_t a, uint64_t b) {
    // E[j] = j (x) b, cut to 64 bits; the bits cut off are put back below.
    uint64_t e[16];
    e[0] = 0;
    e[1] = b;
    for (int j = 1; j < 8; ++j) {
        e[2 * j] = e[j] << 1;
        e[2 * j + 1] = e[2 * j] ^ b;
    }
    uint64_t lo = e[a & 15];
    uint64_t hi = 0;
    for (int i = 4; i < 64; i += 4) {
        const uint64_t v = e[(a >> i) & 15];
        lo ^= v << i;
        hi ^= v >> (64 - i);
    }
    uint64_t mask = 0xEEEEEEEEEEEEEEEEull;
    for (int t = 1; t <= 3; ++t) {
        if ((b >> (64 - t)) & 1) hi ^= (a & mask) >> t;
        mask &= mask << 1;
    }
    return {lo, hi};
}

soft_u128 clmul_select_soft(soft_u128 x, soft_u128 y, unsigned sel) {
    return clmul64_soft((sel & 0x01) ? x.hi : x.lo, (sel & 0x10) ? y.hi : y.lo);
}

namespace {

uint64_t mulhrs_half(uint64_t a, uint64_t b) {
    uint64_t r = 0;
    for (int j = 0; j < 64; j += 16) {
        const int32_t x = static_cast<int16_t>(static_cast<uint16_t>(a >> j));
        const int32_t y = static_cast<int16_t>(static_cast<uint16_t>(b >> j));
        // |x * y| <= 2^30, so adding the rounding bit cannot overflow.
        const int32_t rounded = (x * y + 0x4000) >> 15;
        r |= uint64_t{static_cast<uint16_t>(rounded)} << j;
    }
    return r;
}

uint8_t byte_at(soft_u128 v, unsigned i) {
    return static_cast<uint8_t>((i < 8 ? v.lo >> (8 * i) : v.hi >> (8 * (i - 8))) & 0xFF);
}

} // namespace

soft_u128 mulhrs16_soft(soft_u128 a, soft_u128 b) {
    return {mulhrs_half(a.lo, b.lo), mulhrs_half(a.hi, b.hi)};
}

soft_u128 shuffle_bytes_soft(soft_u128 table, soft_u128 idx) {
    soft_u128 r{0, 0};
    for (unsigned j = 0; j < 16; ++j) {
        const uint8_t i = byte_at(idx, j);
        const uint64_t b = (i & 0x80) ? 0 : byte_at(table, i & 15);
        if (j < 8)
            r.lo |= b << (8 * j);
        else
            r.hi |= b << (8 * (j - 8));
    }
    return r;
}

namespace {

uint64_t reduce64_soft(soft_u128 acc) {
    const soft_u128 length{64, 1024};
    acc.lo ^= clmul_select_soft(length, length, 0x10).lo;
    const soft_u128 y = clmul_select_soft(acc, soft_u128{0x1b, 0}, 0x01);
    const soft_u128 table{0x415a776c2d361b00ull, 0x9982afb4f5eec3d8ull};
    const soft_u128 folded = shuffle_bytes_soft(table, soft_u128{y.hi, 0});
    return acc.lo ^ y.lo ^ folded.lo;
}

struct PortableOps {
    using block = soft_u128;

    static block load(const void* p) {
        block v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(void* p, block v) { std::memcpy(p, &v, sizeof v); }
    static block xor_(block a, block b) { return {a.lo ^ b.lo, a.hi ^ b.hi}; }
    static block cl(block x) { return clmul_select_soft(x, x, 0x10); }
    static block mh(block a, block b) { return mulhrs16_soft(a, b); }
    static block aes(block x, block k) {
        uint8_t xb[16], kb[16];
        std::memcpy(xb, &x, 16);
        std::memcpy(kb, &k, 16);
        aes_round_soft(xb, kb);
        std::memcpy(&x, xb, 16);
        return x;
    }
    static block lo32(block x, block y) { return interleave(x, y, interleave_lo32); }
    static block hi32(block x, block y) { return interleave(x, y, interleave_hi32); }
    static uint64_t low64(block x) { return x.lo; }
    static vec128 to_vec128(block v) {
        vec128 r;
        std::memcpy(&r, &v, sizeof r);
        return r;
    }
    static uint64_t reduce64(block acc) { return reduce64_soft(acc); }
    static block xor_low32(block acc, uint32_t v) { return {acc.lo ^ v, acc.hi}; }

    // The entry mask and the start entry follow from the byte mask of the indexed part.
    static vec128* start(vec128* key, uint64_t keyIndexMask) {
        return key + (keyIndexMask >> 4) + 2;
    }
    static vec128* entry_r(vec128* key, uint64_t sel, uint64_t keyIndexMask) {
        return key + ((sel >> 5) & (keyIndexMask >> 4));
    }
    static vec128* entry_x(vec128* key, uint64_t sel, uint64_t keyIndexMask) {
        return key + ((sel >> 32) & (keyIndexMask >> 4));
    }

  private:
    using interleave_fn = void (*)(uint8_t*, const uint8_t*, const uint8_t*);
    static block interleave(block x, block y, interleave_fn f) {
        uint8_t xb[16], yb[16], out[16];
        std::memcpy(xb, &x, 16);
        std::memcpy(yb, &y, 16);
        f(out, xb, yb);
        block r;
        std::memcpy(&r, out, 16);
        return r;
    }
};

} // namespace

uint64_t clhash_reduce64_portable(vec128 acc) {
    soft_u128 v;
    std::memcpy(&v, &acc, sizeof v);
    return reduce64_soft(v);
}

KEYED_MIX_FORM(portable, PortableOps)
