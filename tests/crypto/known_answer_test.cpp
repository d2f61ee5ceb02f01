// The start-up self-test: it passes the installed forms and paths, and one flipped bit in any
// operation the search runs makes it fail, on either form.
#include "crypto/known_answer.h"

#include <gtest/gtest.h>

#include "crypto/zantu_hash.h"
#include "tests/support/form_fixture.h"

namespace {

// Wrong forms: the installed operation with one output bit flipped.
haraka256_fn_t right_256;
haraka512_fn_t right_512;
haraka512_rc_fn_t right_512_rc;
keyed_mix64_fn right_mix;

void flipped_256(uint8_t* out, const uint8_t* in) {
    right_256(out, in);
    out[17] ^= 0x04;
}
void flipped_512(uint8_t* out, const uint8_t* in) {
    right_512(out, in);
    out[3] ^= 0x20;
}
void flipped_512_rc(uint8_t* out, const uint8_t* in, const uint8_t* rc) {
    right_512_rc(out, in, rc);
    out[24] ^= 0x01; // the digest word's lowest bit: the smallest possible error
}
uint64_t flipped_mix(vec128* key, const vec128* block, uint64_t mask, vec128** touch) {
    return right_mix(key, block, mask, touch) ^ (uint64_t{1} << 40);
}
// Wrong for the last of the 64 nonces only: caught only where every digest word is compared.
uint64_t flipped_mix_last_nonce(vec128* key, const vec128* block, uint64_t mask, vec128** touch) {
    const bool last = reinterpret_cast<const uint8_t*>(block)[kBlockNonceOffset] == 63;
    return right_mix(key, block, mask, touch) ^ last;
}

// Wrong paths over the Finalize loop: one digest word off (the first, one in the middle or the
// last of the 64, so that a test comparing fewer words is caught), or a candidate test that
// reports a nonce whose word is not below the target.
template <uint32_t J>
bool words_one_off(CZantuHashV2& h, uint32_t first, uint32_t count, uint64_t* words) {
    kFinalizePath.words(h, first, count, words);
    if (count > J) words[J] ^= 1;
    return true;
}
uint32_t scan_one_extra(CZantuHashV2& h, uint32_t base, uint64_t count, uint64_t target,
                        const NonceScanSink& sink) {
    return kFinalizePath.scan(h, base, count, target + 1, sink);
}
template <uint32_t J> NoncePath words_off_path() {
    NoncePath path = kFinalizePath;
    path.words = words_one_off<J>;
    return path;
}
const NoncePath kFirstWordOff = words_off_path<0>();
const NoncePath kMiddleWordOff = words_off_path<37>();
const NoncePath kLastWordOff = words_off_path<63>();
// A candidate test that reports as many nonces as it should, each with its lowest bit flipped:
// caught only where the nonces themselves are compared, not just their count.
const NonceScanSink* outer_sink;
uint32_t scan_wrong_nonces(CZantuHashV2& h, uint32_t base, uint64_t count, uint64_t target,
                           const NonceScanSink& sink) {
    outer_sink = &sink;
    const auto flipped = [](void* context, uint32_t nonce) {
        outer_sink->candidate(context, nonce ^ 1);
    };
    return kFinalizePath.scan(h, base, count, target, {flipped, sink.stop, sink.context, nullptr});
}
template <nonce_scan_fn_t Scan> NoncePath scan_path() {
    NoncePath path = kFinalizePath;
    path.scan = Scan;
    return path;
}
const NoncePath kScanOneExtra = scan_path<scan_one_extra>();
const NoncePath kScanWrongNonces = scan_path<scan_wrong_nonces>();

struct FaultRow {
    const char* what;
    void (*inject)(CZantuHashV2& h);
    KnownAnswerFault expect;
};

const FaultRow kFaultRows[] = {
    {"right forms", [](CZantuHashV2&) {}, KnownAnswerFault::none},
    {"absorbing compression", [](CZantuHashV2&) { haraka512_fn = flipped_512; },
     KnownAnswerFault::hash_forms},
    {"key expansion", [](CZantuHashV2&) { haraka256_fn = flipped_256; },
     KnownAnswerFault::hash_forms},
    {"keyed compression", [](CZantuHashV2&) { haraka512_rc_fn = flipped_512_rc; },
     KnownAnswerFault::hash_forms},
    {"mixing", [](CZantuHashV2& h) { h.mixFinal = flipped_mix; }, KnownAnswerFault::hash_forms},
    {"mixing for the last nonce", [](CZantuHashV2& h) { h.mixFinal = flipped_mix_last_nonce; },
     KnownAnswerFault::hash_forms},
    {"nonce path's first word", [](CZantuHashV2&) { selection.path = &kFirstWordOff; },
     KnownAnswerFault::nonce_path},
    {"nonce path's word 37", [](CZantuHashV2&) { selection.path = &kMiddleWordOff; },
     KnownAnswerFault::nonce_path},
    {"nonce path's last word", [](CZantuHashV2&) { selection.path = &kLastWordOff; },
     KnownAnswerFault::nonce_path},
    {"nonce path candidate test", [](CZantuHashV2&) { selection.path = &kScanOneExtra; },
     KnownAnswerFault::nonce_path},
    {"nonce path's candidates", [](CZantuHashV2&) { selection.path = &kScanWrongNonces; },
     KnownAnswerFault::nonce_path},
};

class KnownAnswerTest : public HashFormTest {};

TEST_P(KnownAnswerTest, PassesRightFormsAndCatchesOneFlippedBit) {
    for (const FaultRow& row : kFaultRows) {
        SCOPED_TRACE(row.what);
        install_forms(*GetParam());
        right_256 = haraka256_fn, right_512 = haraka512_fn, right_512_rc = haraka512_rc_fn;
        alignas(32) CZantuHashV2 h(4);
        right_mix = h.mixFinal;
        selection.path = &kFinalizePath;
        row.inject(h);
        EXPECT_EQ(known_answer_fault(h), row.expect);
    }
}

INSTANTIATE_FOR_EVERY_FORM(KnownAnswerTest);

} // namespace
