// The multi-nonce paths against Finalize: digests over many nonces and jobs, steered corner
// selectors, other input lengths, the key left intact, and the batch loop's stopping rules.
// Every test runs on each path this processor has, and the whole file runs twice: against the
// lane path's computed jump and against its plain-switch build.
#include "crypto/nonce/lanes.h"
#include "crypto/nonce/nonce_path.h"
#include "crypto/zantu_hash.h"

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/hex.h"
#include "tests/support/dispatch_guard.h"
#include "tests/support/steer_key.h"

namespace {

using namespace steer;

class NonceLanesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (probe_fast_hash_support() != 1) GTEST_SKIP() << "processor lacks the fast forms";
        install_forms(kFastForms);
        // Every multi-nonce path this processor runs.
        const CpuFeatures features = read_cpu_features();
        for (size_t i = 1; i < kNoncePathCount; ++i)
            if (kNoncePaths[i]->decision(features) == 1) paths_.push_back(kNoncePaths[i]);
    }

    // Absorbs a random input of |len| bytes and prepares the key.
    void NewJob(std::mt19937_64& rng, size_t len = kHashInputBytes) {
        std::vector<uint8_t> in(len);
        fill_random(rng, in.data(), in.size());
        h_.Reset();
        h_.Write(in.data(), in.size());
        PrepareKey(h_.current);
    }

    // Every path's words of |count| nonces from |first| against Finalize's, each from its
    // own kernel: a path that handed its work down its fallbacks would pass on words alone.
    void ExpectSameWords(uint32_t first, uint32_t count) {
        std::vector<uint64_t> want(count), got(count);
        run_nonce_words(kFinalizePath, h_, first, count, want.data());
        for (const NoncePath* path : paths_) {
            ASSERT_EQ(&run_nonce_words(*path, h_, first, count, got.data()), path) << path->name;
            for (uint32_t j = 0; j < count; ++j)
                ASSERT_EQ(got[j], want[j]) << path->name << ", nonce " << first + j;
        }
    }

    // Lane words of nonces first.. against Finalize, |calls| calls of Hash.
    template <int Lanes> void ExpectSameLaneWords(uint32_t first, int calls) {
        auto lanes = std::make_unique<NonceLanes<Lanes>>();
        lanes->Begin(h_);
        uint64_t words[Lanes];
        for (int c = 0; c < calls; ++c) {
            const uint32_t base = first + static_cast<uint32_t>(c * Lanes);
            lanes->Hash(base, words);
            for (int l = 0; l < Lanes; ++l)
                ASSERT_EQ(words[l], nonce_digest_word(h_, base + l))
                    << Lanes << " lanes, nonce " << base + l;
        }
    }

    DispatchGuard restore_;
    CZantuHashV2 h_{4};
    std::vector<const NoncePath*> paths_;
};

TEST_F(NonceLanesTest, EveryPathMatchesFinalizeOverAMillionNonces) {
    std::mt19937_64 rng(0x1a9e5);
    const uint32_t starts[] = {0, 0x7ffff0, 0xfffe00, 0x123456};
    for (uint32_t first : starts) {
        NewJob(rng);
#ifdef ZANTU_EMULATED_TESTS
        ExpectSameWords(first, 16384); // the emulator is some twenty times slower
#else
        ExpectSameWords(first, 262144);
#endif
        if (HasFatalFailure()) return;
    }
}

TEST_F(NonceLanesTest, EveryLaneCountMatchesFinalize) {
    std::mt19937_64 rng(0x1a9e6);
    NewJob(rng);
    ExpectSameLaneWords<1>(5, 20000);
    ExpectSameLaneWords<2>(7, 10000);
    ExpectSameLaneWords<3>(11, 7000);
}

TEST_F(NonceLanesTest, OtherInputLengthsMoveTheTailFills) {
    // pending 0, 1, 8, 14, 16, 31 against the real input's 15: fills that start before, at and
    // after the nonce bytes.
    std::mt19937_64 rng(0x1a9e7);
    for (size_t len : {kHashInputBytes - 15, kHashInputBytes - 14, kHashInputBytes - 7,
                       kHashInputBytes - 1, kHashInputBytes + 1, kHashInputBytes + 16}) {
        SCOPED_TRACE(len);
        NewJob(rng, len);
        ExpectSameWords(0x10203, 500);
        if (HasFatalFailure()) return;
    }
}

TEST_F(NonceLanesTest, EveryPathLeavesTheThreadKeyAndItsOwnKeysIntact) {
    std::mt19937_64 rng(0x1a9e8);
    NewJob(rng);
    std::vector<uint8_t> before(ThreadKeyBuffer(), ThreadKeyBuffer() + 2 * h_.keySize);
    for (const NoncePath* path : paths_) {
        uint64_t first[3], again[3];
        run_nonce_words(*path, h_, 42, 3, first);
        std::vector<uint64_t> many(1000);
        run_nonce_words(*path, h_, 1000, 1000, many.data());
        run_nonce_words(*path, h_, 42, 3, again);
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(first[j], again[j]) << path->name;
        EXPECT_EQ(std::memcmp(before.data(), ThreadKeyBuffer(), before.size()), 0) << path->name;
    }
}

// Every digest of a job starts from the same selector, so steering it steers every nonce's
// first iteration.
const SteerRow kSteerRows[] = {
    {"00", 0x00, -1, 0, 0, kPlain},
    {"04 R == X", 0x04, -1, 0, 0, kRequalsX},
    {"08", 0x08, -1, 0, 0, kPlain},
    {"0c negative dividend, odd", 0x0c, -1, 0, 0, kNegOddDividend},
    {"0c R == X", 0x0c, -1, 0, 0, kRequalsX},
    {"10 R == X", 0x10, -1, 0, 0, kRequalsX},
    {"14 n=7, all AES rounds", 0x14, 7, 0, kRoundTests, kPlain},
    {"14 n=7, all clmul rounds", 0x14, 7, kRoundTests, 0, kPlain},
    {"14 n=5, mixed rounds", 0x14, 5, 0x5ull << 29, 0xAull << 29, kRequalsX},
    {"14 n=0", 0x14, 0, 0, 0, kPlain},
    {"18 n=7, negative remainders", 0x18, 7, kRoundTests, 0, kNegRemainders},
    {"18 n=7, all multiply rounds", 0x18, 7, 0, kRoundTests, kRequalsX},
    {"18 n=2, mixed rounds", 0x18, 2, 0x5ull << 28, 0x2ull << 28, kPlain},
    {"18 n=0", 0x18, 0, 0, 0, kRequalsX},
    {"1c R == X", 0x1c, -1, 0, 0, kRequalsX},
};

TEST_F(NonceLanesTest, SteeredFirstIterationsMatchFinalize) {
    std::mt19937_64 rng(0x1a9e9);
    for (const SteerRow& row : kSteerRows) {
        SCOPED_TRACE(row.what);
        NewJob(rng);
        uint8_t* key = ThreadKeyBuffer();
        uint8_t* backup = key + h_.keySize;
        const uint64_t sel = steered_selector(load_le64(key + 16 * kStartEntry), row);
        set_entry_lo(key, backup, kStartEntry, sel);
        // The tail filled as the nonce search fills it; the nonce lies in hi(s2), away from
        // the low halves that the tweaks read.
        h_.FillTail(h_.current, 16);
        steer_entries(row, sel, h_.current, true, key, backup, rng);
        ExpectSameWords(static_cast<uint32_t>(rng() & 0xffff), 300);
        ExpectSameLaneWords<1>(0, 100);
        if (HasFatalFailure()) return;
    }
}

// The batch loop: which nonces are tested, reported and counted. stop() turns true at its
// stop_at-th call (0: never); a path done with |count| first does not ask again.
struct ScanRow {
    const char* what;
    uint64_t count;
    int stop_at;
    uint32_t per_nonce, per_group; // nonces done, asking after every nonce / group of 64
};

const ScanRow kScanRows[] = {
    {"stop flag already set: one nonce", 1000, 1, 1, 1},
    {"stop at the third question", 1000, 3, 3, 128},
    {"stop at the sixth question", 1000, 6, 6, 320},
    {"odd count", 7, 0, 7, 7},
    {"count 1", 1, 0, 1, 1},
    {"count past a group, not a multiple of it", 150, 0, 150, 150},
    {"count reached before the flag", 4, 9, 4, 4},
};

TEST_F(NonceLanesTest, ScanStopsAfterTheRightNonceAndReportsInOrder) {
    std::mt19937_64 rng(0x1a9ea);
    NewJob(rng);
    constexpr uint64_t kTarget = 1ull << 63; // about half the nonces are candidates
    const uint32_t base = 0xfffe80;          // runs past the 24-bit nonce into the top byte
    std::vector<uint64_t> words(1000);
    run_nonce_words(kFinalizePath, h_, base, 1000, words.data());

    struct Seen {
        std::vector<uint32_t> reported;
        int calls = 0, stop_at = 0;
    };
    const NonceScanSink sink{
        [](void* c, uint32_t nonce) { static_cast<Seen*>(c)->reported.push_back(nonce); },
        [](void* c) {
            Seen& seen = *static_cast<Seen*>(c);
            return ++seen.calls == seen.stop_at;
        },
        nullptr, nullptr};
    for (const NoncePath* path : paths_) {
        for (const ScanRow& row : kScanRows) {
            SCOPED_TRACE(std::string(path->name) + ": " + row.what);
            Seen seen;
            seen.stop_at = row.stop_at;
            NonceScanSink with{sink.candidate, sink.stop, &seen, nullptr};
            const NonceRun got = run_nonce_scan(*path, h_, base, row.count, kTarget, with);
            const uint32_t want = path->group == 1 ? row.per_nonce : row.per_group;
            EXPECT_EQ(got.path, path);
            EXPECT_EQ(got.done, want);
            std::vector<uint32_t> candidates;
            for (uint32_t j = 0; j < want; ++j)
                if (words[j] < kTarget) candidates.push_back(base + j);
            EXPECT_EQ(seen.reported, candidates);
        }
    }
}

} // namespace
