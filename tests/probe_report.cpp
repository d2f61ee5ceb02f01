// Test helper: runs the start-up probe and selection as the solver does, then prints the
// answer, the nonce path chosen and whether the installed forms and path give the known Haraka
// and digest answers.
#include <cstdio>

#include "crypto/known_answer.h"
#include "crypto/selection.h"
#include "crypto/zantu_hash.h"
#include "tests/support/known_answers.h"

namespace {

// installed_haraka_fault runs the known answers through the installed Haraka slots.
std::string installed_haraka_fault() {
    return haraka_answer_fault(haraka256_fn, haraka512_fn, haraka512_rc_fn);
}

} // namespace

int main() {
    // Before any selection the slots hold the portable forms, which need no preparing.
    std::string fault = installed_haraka_fault();
    const int answer = probe_fast_hash_support();
    select_haraka_implementations();
    if (fault.empty()) fault = installed_haraka_fault();

    // The start-up self-test on the installed forms and path, as the solver runs it.
    alignas(32) CZantuHashV2 hasher(4);
    if (fault.empty() && known_answer_fault(hasher) != KnownAnswerFault::none)
        fault = "the start-up self-test fails";

    std::printf("fast_hash_support=%d\nnonce_path=%s\nknown_answers=%s\n", answer,
                selection.path->tag, fault.empty() ? "ok" : ("FAILED: " + fault).c_str());
    return fault.empty() ? 0 : 1;
}
