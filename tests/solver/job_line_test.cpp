#include <cstring>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "solver/job_slot.h"
#include "tests/support/malformed_lines.h"
#include "tests/support/jobs.h"

namespace {

class JobLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (JobSlot& slot : slots)
            reset_job_slot(slot);
    }

    // The line goes into a buffer of exactly its size, so that the sanitizers catch any
    // read past its terminator.
    JobParseResult parse(const std::string& line) {
        std::unique_ptr<char[]> text(new char[line.size() + 1]);
        std::memcpy(text.get(), line.data(), line.size());
        text[line.size()] = 0;
        return parse_job_line_checked(text.get(), slots, pool_count);
    }

    JobSlot& parse_ok(const std::string& line) {
        const JobParseResult result = parse(line);
        EXPECT_EQ(result.fault, JobLineFault::none) << line.substr(0, 80);
        return result.slot ? *result.slot : slots[0];
    }

    JobSlot slots[pool_count];
};

// The one written copy of the check messages, outside the parser's table: the controlling
// program reads them byte for byte, so a changed number or condition text breaks it.
TEST(JobLineChecks, MessagesAreTheProtocols) {
    const char* const want[] = {"343: str[str_i] == ' '\n",    "349: str[str_i] == ' '\n",
                                "352: _poolid < pool_count\n", "377: str[str_i] == ' '\n",
                                "382: str[str_i] == ' '\n",    "383: i < job_id_len\n",
                                "389: str[str_i] == ' '\n",    "403: (*fixed_nonce_bytes) < 9\n",
                                "404: str[str_i] == ' '\n"};
    ASSERT_EQ(std::size(kJobLineChecks), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i)
        EXPECT_EQ(check_message(kJobLineChecks[i].id), want[i]);
}

TEST_F(JobLineTest, MalformedLinesReportTheirFaultWithoutEndingTheProcess) {
    for (const MalformedLine& c : malformed_lines()) {
        const JobParseResult result = parse(c.line);
        EXPECT_NE(result.fault, JobLineFault::none) << c.name;
        EXPECT_EQ(result.slot, nullptr) << c.name;
        EXPECT_EQ(fault_message(result), c.message) << c.name;
    }
}

// Every truncation of a good line is a line ending somewhere: it must be rejected until the
// solution field is reached, accepted from there on, and never read past its end.
TEST_F(JobLineTest, EveryPrefixOfAJobLineIsHandledInsideTheLine) {
    JobFields job;
    job.solution.resize(40);
    const std::string line = job.line();
    const size_t solution_start = line.size() - 2 * job.solution.size();
    for (size_t len = 0; len <= line.size(); ++len) {
        const JobParseResult result = parse(line.substr(0, len));
        if (len < solution_start) {
            ASSERT_NE(result.fault, JobLineFault::none) << "prefix " << len;
            if (result.fault == JobLineFault::invalid_hex) {
                ASSERT_LE(result.offset, len);
            }
        } else {
            ASSERT_EQ(result.fault, JobLineFault::none) << "prefix " << len;
            ASSERT_EQ(result.slot->solution_len, (len - solution_start) / 2);
        }
    }
}

TEST_F(JobLineTest, PauseFieldSetsOrClearsPaused) {
    const struct {
        std::string pause;
        uint8_t expected;
    } cases[] = {{"0", 0}, {"1", 1}, {"a", 1}, {"\x80", 1}, {"/", 0}, {"9", 1}};
    for (const auto& c : cases) {
        paused.store(c.expected ? 0 : 1);
        JobFields job;
        job.pause = c.pause;
        parse_ok(job.line());
        EXPECT_EQ(paused.load(), c.expected) << "pause " << c.pause;
    }
    paused.store(1);
    parse_ok(" " + JobFields().line().substr(2));
    EXPECT_EQ(paused.load(), 0) << "empty pause field";
    paused.store(0);
}

TEST_F(JobLineTest, PoolIdSelectsTheSlot) {
    const struct {
        std::string pool;
        int slot;
    } cases[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"\x01", 1}, {"\x02", 2}};
    for (const auto& c : cases) {
        JobFields job;
        job.pool = c.pool;
        JobSlot& slot = parse_ok(job.line());
        EXPECT_EQ(&slot, &slots[c.slot]) << "pool " << int(c.pool[0]);
        EXPECT_EQ(std::string(slot.pool_id_text), c.pool);
    }
    JobSlot& slot = parse_ok("  " + JobFields().line().substr(4));
    EXPECT_EQ(&slot, &slots[0]);
    EXPECT_STREQ(slot.pool_id_text, "");
}

TEST_F(JobLineTest, ShortTargetReplacesOnlyTheBytesItGives) {
    JobFields job;
    job.target = Bytes(32, 0x11);
    parse_ok(job.line());
    job.target = {0xaa, 0xbb, 0xcc, 0xdd};
    JobSlot& slot = parse_ok(job.line());
    Bytes expected(32, 0x11);
    std::copy(job.target.begin(), job.target.end(), expected.begin());
    EXPECT_EQ(bytes_of(slot.target, 32), expected);
    job.target.clear();
    EXPECT_EQ(bytes_of(parse_ok(job.line()).target, 32), expected) << "empty target field";
}

TEST_F(JobLineTest, JobIdUpTo31Characters) {
    for (const std::string& id : {std::string(), std::string("a"), std::string(31, 'x')}) {
        JobFields job;
        job.job_id = id;
        EXPECT_EQ(std::string(parse_ok(job.line()).job_id), id);
    }
}

TEST_F(JobLineTest, HeaderAndFixedNonceLengths) {
    const struct {
        size_t header_bytes;
        size_t fixed_bytes;
    } cases[] = {{108, 4}, {108, 0}, {108, 8}, {138, 2}, {140, 0}, {0, 8}, {132, 8}};
    for (const auto& c : cases) {
        SetUp();
        JobFields job;
        job.header = pattern_bytes(c.header_bytes, 21);
        job.fixed_nonce = pattern_bytes(c.fixed_bytes, 22);
        JobSlot& slot = parse_ok(job.line());
        const std::string where =
            std::to_string(c.header_bytes) + "+" + std::to_string(c.fixed_bytes);
        EXPECT_EQ(slot.fixed_nonce_bytes, c.fixed_bytes) << where;
        Bytes expected_header = job.header;
        expected_header.insert(expected_header.end(), job.fixed_nonce.begin(),
                               job.fixed_nonce.end());
        expected_header.resize(kHeaderBytes, 0);
        EXPECT_EQ(bytes_of(slot.header, kHeaderBytes), expected_header) << where;
        EXPECT_EQ(bytes_of(slot.fixed_nonce, c.fixed_bytes), job.fixed_nonce) << where;
        EXPECT_EQ(bytes_of(slot.solution, kSolutionBytes), job.solution) << where;
    }
}

TEST_F(JobLineTest, HexDigitsOfEitherCase) {
    JobFields job;
    job.target = pattern_bytes(32, 9);
    const auto upper = [](const Bytes& data) {
        std::string text = to_hex(data);
        for (char& c : text)
            if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        return text;
    };
    const std::string line = "0 1 " + upper(job.target) + " job " + upper(job.header) + " " +
                             upper(job.fixed_nonce) + " " + upper(job.solution);
    JobSlot& slot = parse_ok(line);
    EXPECT_EQ(bytes_of(slot.target, 32), job.target);
    EXPECT_EQ(bytes_of(slot.header, job.header.size()), job.header);
    EXPECT_EQ(bytes_of(slot.solution, kSolutionBytes), job.solution);
    EXPECT_EQ(hex_nibble('F'), 15);
    EXPECT_EQ(hex_nibble('f'), 15);
    EXPECT_EQ(hex_nibble('9'), 9);
    EXPECT_EQ(hex_nibble('g'), -1);
}

TEST_F(JobLineTest, SolutionFieldEndsAtSpaceOrLineEnd) {
    const std::string full = to_hex(pattern_bytes(kSolutionBytes, 4));
    const struct {
        std::string name;
        std::string field;
        size_t expected_len;
    } cases[] = {
        {"ten digits", "0123456789", 5},
        {"lone last digit", "abc", 1},
        {"space at first digit", "ab cd", 1},
        {"space at second digit", "a bc", 0},
        {"empty", "", 0},
        {"2689 digits", full + "7", kSolutionBytes},
        {"longer, then junk", full + "zz junk", kSolutionBytes},
    };
    for (const auto& c : cases) {
        JobFields job;
        std::string line = job.line();
        line.resize(line.size() - 2 * job.solution.size());
        JobSlot& slot = parse_ok(line + c.field);
        EXPECT_EQ(slot.solution_len, c.expected_len) << c.name;
        Bytes expected = from_hex(c.field.substr(0, 2 * c.expected_len));
        expected.resize(kSolutionBytes, 0);
        EXPECT_EQ(bytes_of(slot.solution, kSolutionBytes), expected) << c.name;
    }
}

TEST_F(JobLineTest, ActiveOnlyWithANonZeroHeader) {
    JobFields job;
    std::fill(job.header.begin(), job.header.end(), 0);
    job.fixed_nonce = Bytes(4, 0);
    EXPECT_EQ(parse_ok(job.line()).active, 0);
    job.fixed_nonce = {0, 0, 0, 1};
    EXPECT_EQ(parse_ok(job.line()).active, 1);
    job.fixed_nonce = Bytes(4, 0);
    EXPECT_EQ(parse_ok(job.line()).active, 0) << "a zero header deactivates the slot again";
}

TEST_F(JobLineTest, NewJobKeepsNonceProgress) {
    JobSlot& slot = parse_ok(JobFields().line());
    slot.nonce_base = 12345;
    slot.last_batch_hashes = 77;
    slot.extra_nonce_word = 9;
    slot.extra_nonce_byte = 3;
    slot.new_job = 0;
    parse_ok(JobFields().line());
    EXPECT_EQ(slot.nonce_base, 12345u);
    EXPECT_EQ(slot.last_batch_hashes, 77u);
    EXPECT_EQ(slot.extra_nonce_word, 9);
    EXPECT_EQ(slot.extra_nonce_byte, 3);
    EXPECT_EQ(slot.new_job, 0) << "the main loop, not the parser, marks the new job";
}

TEST_F(JobLineTest, HeaderCommitmentModes) {
    enum Digest { none, without_fixed_nonce, with_fixed_nonce, wrong, wrong_last_byte };
    const struct {
        std::string name;
        uint8_t byte0, byte5;
        bool zero_record;
        Digest digest;
        uint8_t record_empty, commit_header;
        bool record_has_fixed_nonce;
    } cases[] = {
        {"byte 0 below 7", 6, 1, false, without_fixed_nonce, 0, 0, false},
        {"byte 5 zero", 7, 0, false, without_fixed_nonce, 0, 0, false},
        {"empty record", 7, 1, true, none, 1, 1, false},
        {"digest without fixed nonce", 7, 1, false, without_fixed_nonce, 0, 1, false},
        {"digest with fixed nonce", 0xff, 9, false, with_fixed_nonce, 0, 1, true},
        {"digest matching neither", 7, 1, false, wrong, 0, 0, true},
        // Catches a comparison that stops short of the digest's last byte.
        {"digest off in its last byte only", 7, 1, false, wrong_last_byte, 0, 0, true},
    };
    for (const auto& c : cases) {
        SetUp();
        JobFields job;
        job.solution[0] = c.byte0;
        job.solution[5] = c.byte5;
        if (c.zero_record) set_commit_mode(job, CommitMode::record_empty);
        const Bytes plain = commitment_record(job.header, job.solution);
        const Bytes with_nonce = commitment_record(job.header, job.solution, job.fixed_nonce);
        Bytes digest = c.digest == with_fixed_nonce ? reference_commit_digest(with_nonce)
                                                    : reference_commit_digest(plain);
        if (c.digest == wrong) digest[0] ^= 1;
        if (c.digest == wrong_last_byte) digest[31] ^= 1;
        if (c.digest != none)
            std::copy(digest.begin(), digest.end(), job.solution.begin() + kCommitDigestOffset);

        JobSlot& slot = parse_ok(job.line());
        EXPECT_EQ(slot.commit_record_empty, c.record_empty) << c.name;
        EXPECT_EQ(slot.commit_header, c.commit_header) << c.name;
        if (c.byte0 >= 7 && c.byte5 != 0) {
            EXPECT_EQ(bytes_of(slot.commit_record, kCommitRecordBytes),
                      c.record_has_fixed_nonce ? with_nonce : plain)
                << c.name;
        } else {
            EXPECT_EQ(bytes_of(slot.commit_record, kCommitRecordBytes),
                      Bytes(kCommitRecordBytes, 0))
                << c.name << ": the record is left as it was";
        }
    }
}

} // namespace
