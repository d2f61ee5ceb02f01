// The start-up self-test: a fixed job hashed through the installed forms and nonce path,
// against digests stored from the portable forms, which need nothing of the processor.
#pragma once

#include <cstdint>

class CZantuHashV2;

// KnownAnswerFault: which part of the installed hashing gave a wrong digest, if any.
enum class KnownAnswerFault {
    none,
    hash_forms, // Finalize: the installed Haraka forms and the hasher's mixing
    nonce_path, // the installed nonce path's digests or its candidate test
};

// known_answer_fault hashes the known-answer job through |hasher| (whose mixing must be the
// one the search runs), the installed Haraka forms and the installed nonce path, and
// compares every digest word with the stored answers. Afterwards |hasher| needs a new
// Reset, and the thread's key holds the job's key.
KnownAnswerFault known_answer_fault(CZantuHashV2& hasher);
