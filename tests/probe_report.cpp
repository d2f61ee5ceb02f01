// Test helper: runs the start-up probe and selection as the solver does, then prints the
// answer, the nonce path chosen and whether the installed forms and path give the known Haraka
// and digest answers.
#include <cstdio>
#include <cstring>

#include "crypto/haraka/haraka.h"
#include "crypto/selection.h"
#include "crypto/known_answer.h"
#include "crypto/zantu_hash.h"

namespace {

// Whether the installed Haraka slots give the known answers.
bool haraka_known_answers() {
    alignas(16) uint8_t in[64];
    for (int i = 0; i < 64; ++i)
        in[i] = static_cast<uint8_t>(i);
    static const uint8_t k256[8] = {0x80, 0x27, 0xcc, 0xb8, 0x79, 0x49, 0x77, 0x4b};
    static const uint8_t k512[8] = {0xbe, 0x7f, 0x72, 0x3b, 0x4e, 0x80, 0xa9, 0x98};
    static const uint8_t k512_tail[8] = {0xdd, 0x92, 0x77, 0xb0, 0x94, 0x5b, 0xe2, 0xaa};
    uint8_t out[32];
    bool ok = true;
    haraka256_fn(out, in);
    ok = ok && std::memcmp(out, k256, 8) == 0;
    haraka512_fn(out, in);
    ok = ok && std::memcmp(out, k512, 8) == 0 && std::memcmp(out + 24, k512_tail, 8) == 0;
    std::memset(out, 0, sizeof out);
    alignas(16) uint8_t table[640];
    std::memcpy(table, HARAKA_RC, sizeof table);
    haraka512_rc_fn(out, in, table);
    return ok && std::memcmp(out + 24, k512_tail, 8) == 0;
}

} // namespace

int main() {
    // Before any selection the slots hold the portable forms, which need no preparing.
    bool ok = haraka_known_answers();
    const int answer = probe_fast_hash_support();
    select_haraka_implementations();
    ok = ok && haraka_known_answers();

    // The start-up self-test on the installed forms and path, as the solver runs it.
    alignas(32) CZantuHashV2 hasher(4);
    ok = ok && known_answer_fault(hasher) == KnownAnswerFault::none;

    std::printf("fast_hash_support=%d\nnonce_path=%s\nknown_answers=%s\n", answer,
                selection.path->tag, ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
