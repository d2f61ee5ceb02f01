// The hasher object: absorbs an input with Haraka-512/256 and finishes digests nonce by nonce.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/zantu_hash.h"

#include "crypto/base/bytes.h"
#include "crypto/cpu/cpu_features.h"

CZantuHashV2::CZantuHashV2(int version) {
    keySize = static_cast<int64_t>(kKeyBytes);
    SelectMixing(version);
    if (AcquireKeyBuffer(keySize)) {
        keyIndexMask = static_cast<int64_t>(kKeyIndexMask);
    } else {
        keyIndexMask = 0;
        keySize = 0;
    }
    Reset();
    if (!ThreadKeyBuffer()) {
        std::printf("ERROR: failed to allocate hash buffer - terminating\n");
        std::fflush(stdout);
        // A failed assertion's report, as the C library words it, naming the hasher's chief
        // header, and the abort, written out so that no build (NDEBUG or not) can go on with a
        // hasher that has no key.
        std::fprintf(stderr, "%s: %s:%d: %s: Assertion `%s' failed.\n",
                     program_invocation_short_name, "crypto/zantu_hash.h", __LINE__,
                     "CZantuHashV2::CZantuHashV2(int)", "false");
        std::abort();
    }
}

void CZantuHashV2::SelectMixing(int version) {
    const HashForms& forms = hash_forms_for(probe_fast_hash_support());
    const int variant = version <= 2 ? 0 : version == 3 ? 1 : 2;
    mixFinal = forms.mix64[variant];
    mixCore = forms.mix128[variant];
}

void CZantuHashV2::Reset() {
    pending = 0;
    current = blockA;
    spare = blockB;
    std::memset(blockA, 0, sizeof blockA);
}

CZantuHashV2& CZantuHashV2::Write(const uint8_t* data, size_t len) {
    size_t p = 0;
    while (p < len) {
        const size_t room = 32 - pending;
        if (len - p < room) {
            std::memcpy(current + 32 + pending, data + p, len - p);
            pending += len - p;
            return *this;
        }
        std::memcpy(current + 32 + pending, data + p, room);
        haraka512_fn(spare, current);
        pending = 0;
        uint8_t* full = current;
        current = spare;
        spare = full;
        p += room;
    }
    return *this;
}

void CZantuHashV2::FillTail(const uint8_t* value, int n) {
    for (size_t i = 0; 32 + pending + i <= 63; ++i)
        current[32 + pending + i] = value[i % n];
}

void CZantuHashV2::Finalize(uint8_t out[32]) {
    vec128* key = reinterpret_cast<vec128*>(ThreadKeyBuffer());
    FillTail(current, 16);
    const uint64_t v =
        mixFinal(key, reinterpret_cast<const vec128*>(current), keyIndexMask, ThreadTouchList());
    uint8_t v_bytes[8];
    store_le64(v_bytes, v);
    FillTail(v_bytes, 8);
    haraka512_rc_fn(out, current,
                    reinterpret_cast<const uint8_t*>(key + (v & (keyIndexMask >> 4))));
    RestoreTouched();
}
