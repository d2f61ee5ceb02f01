#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "solver/job_slot.h"
#include "solver/nonce_search.h"
#include "solver/solution_line.h"
#include "tests/support/jobs.h"

namespace {

// kPrintedNonce: the nonce every printed line carries.
constexpr uint32_t kPrintedNonce = 0x123456;

struct PrintedLine {
    std::string text;
    Bytes input;
};

PrintedLine print_for(const JobSlot& slot) {
    PrintedLine printed;
    printed.input.resize(kHashInputBytes);
    build_hash_input(slot, printed.input.data());
    for (size_t i = 0; i < kNonceBytes; ++i)
        printed.input[kHashInputBytes - kNonceBytes + i] =
            static_cast<uint8_t>(kPrintedNonce >> (8 * i));
    testing::internal::CaptureStdout();
    print_solution_line(slot, printed.input.data());
    printed.text = testing::internal::GetCapturedStdout();
    return printed;
}

TEST(SolutionLine, FieldsForEachSlotShape) {
    const struct {
        std::string name;
        std::string pool_text;
        std::string job_id;
        uint64_t fixed_nonce_bytes;
        uint8_t extra_nonce_byte;
        std::string expected_head;
    } cases[] = {
        {"usual four fixed bytes", "1", "job-7", 4, 0x1a,
         "sol: 1 job-7 5f5e4d3c 1a" + std::string(54, '0') + " "},
        {"no fixed bytes", "2", "j", 0, 0, "sol: 2 j 5f5e4d3c " + std::string(64, '0') + " "},
        {"eight fixed bytes", "0", "x", 8, 0xff,
         "sol: 0 x 5f5e4d3c ff" + std::string(46, '0') + " "},
        {"empty job id", "1", "", 4, 0, "sol: 1  5f5e4d3c " + std::string(56, '0') + " "},
        {"empty pool id text", "", "e", 4, 0, "sol: 0 e 5f5e4d3c " + std::string(56, '0') + " "},
        {"pool id character below 0", "\x02", "e", 4, 0,
         "sol: 2 e 5f5e4d3c " + std::string(56, '0') + " "},
    };
    for (const auto& c : cases) {
        JobSlot slot;
        reset_job_slot(slot);
        std::memcpy(slot.pool_id_text, c.pool_text.c_str(), c.pool_text.size() + 1);
        std::strcpy(slot.job_id, c.job_id.c_str());
        const uint8_t time[4] = {0x5f, 0x5e, 0x4d, 0x3c};
        std::memcpy(slot.header + kHeaderTimeOffset, time, kHeaderTimeBytes);
        slot.fixed_nonce_bytes = c.fixed_nonce_bytes;
        slot.extra_nonce_byte = c.extra_nonce_byte;
        const Bytes solution = pattern_bytes(kSolutionBytes, 17);
        std::memcpy(slot.solution, solution.data(), kSolutionBytes);

        const PrintedLine printed = print_for(slot);
        Bytes expected_solution = solution;
        for (size_t i = 0; i < kNonceBytes; ++i)
            expected_solution[kSolutionNonceOffset + i] =
                static_cast<uint8_t>(kPrintedNonce >> (8 * i));
        EXPECT_EQ(printed.text, c.expected_head + "fd4005" + to_hex(expected_solution) + "\n")
            << c.name;
    }
}

TEST(HexString, LowerCaseAndCutAt2047Bytes) {
    EXPECT_STREQ(hex_string(nullptr, 0), "");
    const uint8_t some[] = {0x00, 0x0f, 0xa0, 0xff, 0x5e};
    EXPECT_STREQ(hex_string(some, 5), "000fa0ff5e");
    const Bytes big = pattern_bytes(3000, 2);
    const std::string text = hex_string(big.data(), 3000);
    EXPECT_EQ(text, to_hex(Bytes(big.begin(), big.begin() + 2047)));
}

} // namespace
