// A job's bytes as the solver fills, hashes and reports them: the header's fields, the
// solution's nonce area and the header commitment's record. The hash input's own shape (header,
// prefix, solution, nonce) is in crypto/layout.h.
#pragma once

#include <cstddef>

#include "crypto/base/layout.h"

// The header: version, the fields a commitment covers, time, bits, the header nonce.
constexpr size_t kHeaderVersionBytes = 4;
constexpr size_t kHeaderFieldsOffset = kHeaderVersionBytes;
constexpr size_t kHeaderFieldsBytes = 96;
constexpr size_t kHeaderTimeOffset = kHeaderFieldsOffset + kHeaderFieldsBytes;
constexpr size_t kHeaderTimeBytes = 4;
constexpr size_t kHeaderBitsOffset = kHeaderTimeOffset + kHeaderTimeBytes;
constexpr size_t kHeaderBitsBytes = 4;
constexpr size_t kHeaderNonceOffset = kHeaderBitsOffset + kHeaderBitsBytes;
constexpr size_t kHeaderNonceBytes = kHeaderBytes - kHeaderNonceOffset;

// The solution: the bytes a header commitment covers, its digest, and the nonce area (fixed
// nonce, cpu_id byte, extra_nonce_word, extra_nonce_byte, then the three nonce bytes last).
constexpr size_t kSolutionCommittedOffset = 8;
constexpr size_t kSolutionCommittedBytes = 64;
constexpr size_t kCommitDigestOffset = 92;
constexpr size_t kCommitDigestBytes = 32;
constexpr size_t kMaxFixedNonceBytes = 8;
constexpr size_t kSolutionNonceAreaOffset = 1329;
constexpr size_t kSolutionNonceOffset = kSolutionBytes - kNonceBytes;

// The commitment record: the header's fields, its nonce area, its bits, the solution's
// committed bytes.
constexpr size_t kRecordNonceOffset = kHeaderFieldsBytes;
constexpr size_t kRecordBitsOffset = kRecordNonceOffset + kHeaderNonceBytes;
constexpr size_t kRecordSolutionOffset = kRecordBitsOffset + kHeaderBitsBytes;
constexpr size_t kCommitRecordBytes = kRecordSolutionOffset + kSolutionCommittedBytes;

// The protocol's values: the tests build their jobs and expectations from these constants, so
// a wrong one must fail here.
static_assert(kHeaderTimeOffset == 100 && kHeaderBitsOffset == 104 && kHeaderNonceOffset == 108 &&
              kHeaderNonceBytes == 32);
static_assert(kSolutionCommittedOffset == 8 && kSolutionCommittedBytes == 64 &&
              kCommitDigestOffset == 92);
static_assert(kCommitRecordBytes == 196 && kRecordBitsOffset == 128);
static_assert(kSolutionNonceAreaOffset + kMaxFixedNonceBytes + 4 == kSolutionNonceOffset,
              "the longest fixed nonce and the three nonce levels end where the nonce starts");
static_assert(kCommitDigestOffset + kCommitDigestBytes <= kSolutionNonceAreaOffset);
