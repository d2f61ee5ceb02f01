// The start-up self-test over one fixed job and its first 64 nonces: one group of the
// in-flight path, and enough nonces to reach every mixing case many times over.
#include "crypto/known_answer.h"

#include <cstring>

#include "crypto/nonce/nonce_path.h"
#include "crypto/selection.h"
#include "crypto/zantu_hash.h"

namespace {

constexpr uint32_t kNonces = 64;

// The job's digest words for nonces 0, 1 and 2, and a fold of all 64; made with the
// portable forms.
constexpr uint64_t kFirstWords[3] = {0xbfef9c8e7ef68422, 0xf320912b8134870c, 0x003c746a499b6194};
constexpr uint64_t kWordsFold = 0xb030aac7269f27f3;

// Byte i is i mod 256 but for the solution-length prefix; the nonce goes in the last three.
void known_answer_input(uint8_t input[kHashInputBytes]) {
    for (size_t i = 0; i < kHashInputBytes; ++i)
        input[i] = static_cast<uint8_t>(i);
    std::memcpy(input + kHeaderBytes, kSolutionPrefix, sizeof kSolutionPrefix);
}

// fold_known_answer_words folds |count| digest words, in order, into one word.
uint64_t fold_known_answer_words(const uint64_t* words, uint32_t count) {
    uint64_t h = 0;
    for (uint32_t j = 0; j < count; ++j) {
        h = (h ^ words[j]) * 0x9e3779b97f4a7c15ull;
        h ^= h >> 29;
    }
    return h;
}

bool words_known(const uint64_t words[kNonces]) {
    return std::memcmp(words, kFirstWords, sizeof kFirstWords) == 0 &&
           fold_known_answer_words(words, kNonces) == kWordsFold;
}

struct ScanSeen {
    uint32_t nonces[kNonces];
    uint32_t count;
};

void seen_candidate(void* context, uint32_t nonce) {
    ScanSeen& seen = *static_cast<ScanSeen*>(context);
    if (seen.count < kNonces) seen.nonces[seen.count] = nonce;
    ++seen.count;
}

bool never_stop(void*) {
    return false;
}

} // namespace

KnownAnswerFault known_answer_fault(CZantuHashV2& hasher) {
    alignas(32) uint8_t input[kHashInputBytes];
    known_answer_input(input);
    hasher.Reset();
    hasher.Write(input, sizeof input);
    // The key must come from the installed Haraka-256, not from a backup of another form.
    ThreadKeyRecord()->holds_key = false;
    PrepareKey(hasher.current);

    const NoncePath& path = *selection.path;
    uint64_t words[kNonces];
    run_nonce_words(kFinalizePath, hasher, 0, kNonces, words);
    if (!words_known(words)) return KnownAnswerFault::hash_forms;
    if (&path == &kFinalizePath) return KnownAnswerFault::none;

    uint64_t path_words[kNonces];
    run_nonce_words(path, hasher, 0, kNonces, path_words);
    if (std::memcmp(path_words, words, sizeof words) != 0) return KnownAnswerFault::nonce_path;
    // The scan's own candidate test, with a target between the known words.
    const uint64_t target = words[kNonces / 2];
    ScanSeen want{}, seen{};
    for (uint32_t j = 0; j < kNonces; ++j)
        if (words[j] < target) seen_candidate(&want, j);
    const NonceScanSink sink{seen_candidate, never_stop, &seen, nullptr};
    const bool right = run_nonce_scan(path, hasher, 0, kNonces, target, sink).done == kNonces &&
                       seen.count == want.count &&
                       std::memcmp(seen.nonces, want.nonces, sizeof(uint32_t) * want.count) == 0;
    return right ? KnownAnswerFault::none : KnownAnswerFault::nonce_path;
}
