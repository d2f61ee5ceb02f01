#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "crypto/zantu_hash.h"
#include "solver/job_slot.h"
#include "solver/nonce_search.h"
#include "solver/settings.h"
#include "solver/solver_loop.h"
#include "tests/support/jobs.h"

namespace {

class NonceSearchTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { init_test_hashing(); }
    void SetUp() override { cpu_id = 0; }
    // search runs one batch of |slot| through the test's hasher, stopped by |stop_|.
    uint32_t search(uint64_t count, JobSlot& slot, uint64_t& candidates) {
        alignas(32) static CZantuHashV2 hasher(4);
        return search_nonces(hasher, stop_, count, slot, candidates);
    }
    std::atomic<uint8_t> stop_{0};
    void TearDown() override { cpu_id = 0; }
};

TEST_F(NonceSearchTest, PrepareWritesTheNonceArea) {
    using M = CommitMode;
    const struct {
        CommitMode mode;
        size_t n;
        int32_t cpu;
        uint8_t cpu_byte;
    } cases[] = {{M::plain, 4, 300, 45},        {M::plain, 0, 7, 7},
                 {M::plain, 8, -1, 0xff},       {M::record_empty, 4, 254, 254},
                 {M::commit_header, 4, 255, 0}, {M::commit_header, 8, 3, 3}};
    for (const auto& c : cases) {
        JobFields job;
        job.fixed_nonce = pattern_bytes(c.n, 40);
        set_commit_mode(job, c.mode);
        JobSlot slot = parsed_slot(job);
        ASSERT_EQ(slot.commit_record_empty, c.mode == M::record_empty ? 1 : 0);
        ASSERT_EQ(slot.commit_header, c.mode == M::plain ? 0 : 1); // the row runs in its mode
        const Bytes header_before = bytes_of(slot.header, kHeaderBytes);
        const Bytes solution_before = bytes_of(slot.solution, kSolutionBytes);
        slot.new_job = 1;
        slot.extra_nonce_word = 0x1234;
        slot.extra_nonce_byte = 0x56;
        cpu_id = c.cpu;
        prepare_nonce_area(slot);
        const std::string where =
            "mode " + std::to_string(static_cast<int>(c.mode)) + " n " + std::to_string(c.n);

        EXPECT_EQ(slot.new_job, 0) << where;
        Bytes area = job.fixed_nonce;
        area.insert(area.end(), {c.cpu_byte, 0x34, 0x12, 0x56});
        EXPECT_EQ(bytes_of(slot.solution + kSolutionNonceAreaOffset, area.size()), area) << where;
        const size_t behind = kSolutionNonceAreaOffset + area.size();
        EXPECT_EQ(
            bytes_of(slot.solution + behind, kSolutionNonceOffset - behind),
            Bytes(solution_before.begin() + behind, solution_before.begin() + kSolutionNonceOffset))
            << where << ": bytes behind the area are the job's";

        Bytes header = header_before;
        if (c.mode == M::plain) {
            std::copy(job.fixed_nonce.begin(), job.fixed_nonce.end(),
                      header.begin() + kHeaderNonceOffset);
            header[kHeaderNonceOffset + c.n] = 0x56;
        } else if (c.mode == M::record_empty) {
            std::fill(header.begin() + kHeaderNonceOffset, header.end(), 0);
        } else {
            std::fill_n(header.begin() + kHeaderFieldsOffset, kHeaderFieldsBytes, 0);
            std::fill(header.begin() + kHeaderBitsOffset, header.end(), 0);
            EXPECT_EQ(bytes_of(slot.solution + kSolutionCommittedOffset, kSolutionCommittedBytes),
                      Bytes(kSolutionCommittedBytes, 0))
                << where;
            Bytes nonce_area = job.fixed_nonce;
            nonce_area.push_back(0x56);
            const Bytes record = commitment_record(header_before, solution_before, nonce_area);
            EXPECT_EQ(bytes_of(slot.solution + kCommitDigestOffset, kCommitDigestBytes),
                      reference_commit_digest(record))
                << where;
        }
        EXPECT_EQ(bytes_of(slot.header, kHeaderBytes), header) << where;
    }
}

TEST_F(NonceSearchTest, StartBatchWalksTheThreeNonceLevels) {
    const uint64_t batch = 0x200000;
    const struct {
        std::string name;
        uint64_t base, last_hashes;
        uint16_t word;
        uint8_t byte;
        uint64_t want_base;
        uint16_t want_word;
        uint8_t want_byte;
        uint64_t want_count;
        bool prepared;
    } cases[] = {
        {"first batch", 0, 0, 0, 0, 0, 0, 0, batch, false},
        {"next batch", 0, batch, 0, 0, batch, 0, 0, batch, false},
        {"cut batch continues", 0x100, 17, 5, 1, 0x111, 5, 1, batch, false},
        {"last nonce alone", 0xE00000, 0x1FFFFE, 0, 0, 0xFFFFFE, 0, 0, 1, false},
        {"empty batch at the end", 0xFFFFFE, 1, 0, 0, 0xFFFFFF, 0, 0, 0, false},
        {"roll over the word", 0xFFFFFF, 0, 7, 2, 0, 8, 2, batch, true},
        {"roll over into the byte", 0xFFFFFF, 0, 0xFFFE, 2, 0, 0, 3, batch, true},
        {"roll over the byte", 0xFFFFFF, 0, 0xFFFE, 254, 0, 0, 0, batch, true},
    };
    for (const auto& c : cases) {
        JobSlot slot = parsed_slot(JobFields());
        slot.new_job = 0;
        slot.nonce_base = c.base;
        slot.last_batch_hashes = c.last_hashes;
        slot.extra_nonce_word = c.word;
        slot.extra_nonce_byte = c.byte;
        const Bytes solution_before = bytes_of(slot.solution, kSolutionBytes);
        EXPECT_EQ(start_batch(slot, batch), c.want_count) << c.name;
        EXPECT_EQ(slot.nonce_base, c.want_base) << c.name;
        EXPECT_EQ(slot.extra_nonce_word, c.want_word) << c.name;
        EXPECT_EQ(slot.extra_nonce_byte, c.want_byte) << c.name;
        if (c.prepared) {
            const Bytes area = {static_cast<uint8_t>(c.want_word),
                                static_cast<uint8_t>(c.want_word >> 8), c.want_byte};
            // Behind the fixed nonce and the cpu byte.
            const size_t word = kSolutionNonceAreaOffset + slot.fixed_nonce_bytes + 1;
            EXPECT_EQ(bytes_of(slot.solution + word, area.size()), area) << c.name;
        } else {
            EXPECT_EQ(bytes_of(slot.solution, kSolutionBytes), solution_before)
                << c.name << ": an unchanged nonce space is not prepared again";
        }
    }
    JobSlot slot = parsed_slot(JobFields());
    slot.new_job = 1;
    start_batch(slot, batch);
    EXPECT_EQ(slot.new_job, 0) << "a new job is prepared";
}

std::vector<uint32_t> printed_nonces(const std::string& out) {
    std::vector<uint32_t> nonces;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const Bytes tail = from_hex(line.substr(line.size() - 6));
        nonces.push_back(tail[0] | tail[1] << 8 | tail[2] << 16);
    }
    return nonces;
}

TEST_F(NonceSearchTest, CountZeroAndEarlyStop) {
    JobFields job;
    job.target = target_below(~uint64_t{0});
    JobSlot slot = parsed_slot(job);
    prepare_nonce_area(slot);
    uint64_t candidates = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(search(0, slot, candidates), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(candidates, 0u);

    stop_.store(1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(search(100, slot, candidates), 1u) << "a waiting line stops the batch";
    EXPECT_EQ(printed_nonces(testing::internal::GetCapturedStdout()), std::vector<uint32_t>{0});
    stop_.store(0);

    slot.nonce_base = 16777214;
    testing::internal::CaptureStdout();
    EXPECT_EQ(search(1, slot, candidates), 1u);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.substr(out.size() - 7), "feffff\n");
    EXPECT_EQ(candidates, 2u);
}

} // namespace
