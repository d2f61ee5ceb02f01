// The hasher object: worked digests in both forms, the split-independence of Write, the
// key invariants around Finalize, variant selection and the allocation failure path.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/base/bytes.h"
#include "crypto/zantu_hash.h"
#include "tests/support/form_fixture.h"
#include "tests/support/hex.h"

namespace {

// The worked input: byte i is i mod 256, with the length prefix and the nonce patched in.
std::vector<uint8_t> worked_input(uint32_t nonce) {
    std::vector<uint8_t> in(kHashInputBytes);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<uint8_t>(i);
    std::memcpy(&in[kHeaderBytes], kSolutionPrefix, sizeof kSolutionPrefix);
    for (size_t i = 0; i < kNonceBytes; ++i)
        in[kHashInputBytes - kNonceBytes + i] = static_cast<uint8_t>(nonce >> (8 * i));
    return in;
}

class HasherTest : public HashFormTest {};

TEST_P(HasherTest, WorkedDigest) {
    CZantuHashV2 h(4);
    const std::vector<uint8_t> in = worked_input(0);
    h.Reset();
    h.Write(in.data(), in.size());
    ASSERT_EQ(h.pending, 15u);
    EXPECT_EQ(to_hex(h.current, 32),
              "73a0ae2fb876c5e3d54d1b3c91e60084e6d921a6742db23a15531a2976eb95ea");
    EXPECT_EQ(to_hex(h.current + 32, 15), "c0c1c2c3c4c5c6c7c8c9cacb000000");
    PrepareKey(h.current);

    // The steps of Finalize one by one, for nonce 0.
    h.FillTail(h.current, 16);
    EXPECT_EQ(to_hex(h.current + 47, 17), "73a0ae2fb876c5e3d54d1b3c91e6008473");
    const uint64_t v =
        h.mixFinal(reinterpret_cast<vec128*>(ThreadKeyBuffer()),
                   reinterpret_cast<const vec128*>(h.current), h.keyIndexMask, ThreadTouchList());
    EXPECT_EQ(v, 0x9af37a2fb169d94dull);
    RestoreTouched();
    uint8_t vb[8];
    store_le64(vb, v);
    h.FillTail(vb, 8);
    EXPECT_EQ(to_hex(h.current + 47, 17), "4dd969b12f7af39a4dd969b12f7af39a4d");

    const uint64_t expected[3] = {0xbfef9c8e7ef68422ull, 0xf320912b8134870cull,
                                  0x003c746a499b6194ull};
    for (uint32_t nonce = 0; nonce < 3; ++nonce) {
        std::memcpy(h.current + kBlockNonceOffset, &nonce, kNonceBytes);
        uint8_t out[32];
        h.Finalize(out);
        EXPECT_EQ(load_le64(out + 24), expected[nonce]) << "nonce " << nonce;
        // A second Finalize of the same nonce gives the same digest: the key was restored.
        h.Finalize(out);
        EXPECT_EQ(load_le64(out + 24), expected[nonce]) << "repeat of nonce " << nonce;
    }
}

TEST_P(HasherTest, WriteIgnoresHowTheInputIsSplit) {
    std::mt19937_64 rng(7);
    std::vector<uint8_t> in(kHashInputBytes);
    fill_random(rng, in.data(), in.size());
    CZantuHashV2 whole(4);
    whole.Write(in.data(), in.size());
    PrepareKey(whole.current);
    uint8_t expected[32];
    whole.Finalize(expected);
    const std::string chain = to_hex(whole.current, 32);

    for (int trial = 0; trial < 50; ++trial) {
        CZantuHashV2 h(4);
        size_t p = 0;
        while (p < in.size()) {
            // Pieces of 0..70 bytes, so that exact fills, empty writes and multi-block
            // writes all occur.
            const size_t n = std::min<size_t>(rng() % 71, in.size() - p);
            h.Write(in.data() + p, n);
            p += n;
        }
        ASSERT_EQ(to_hex(h.current, 32), chain) << "trial " << trial;
        ASSERT_EQ(h.pending, whole.pending);
        PrepareKey(h.current);
        uint8_t out[32];
        h.Finalize(out);
        ASSERT_EQ(to_hex(out + 24, 8), to_hex(expected + 24, 8)) << "trial " << trial;
    }
}

TEST_P(HasherTest, ExactBlockFillsCompressAtOnce) {
    CZantuHashV2 h(4);
    uint8_t data[96] = {};
    for (size_t len : {32u, 64u, 96u}) {
        h.Reset();
        h.Write(data, len);
        EXPECT_EQ(h.pending, 0u) << len;
        EXPECT_NE(to_hex(h.current, 32), std::string(64, '0')) << len;
    }
    // Short input: no compression yet, so the seed is all zero.
    h.Reset();
    h.Write(data, 31);
    EXPECT_EQ(h.pending, 31u);
    EXPECT_EQ(to_hex(h.current, 32), std::string(64, '0'));
}

TEST_P(HasherTest, KeyEqualsFreshExpansionAfterEveryFinalize) {
    std::mt19937_64 rng(11);
    CZantuHashV2 h(4);
    std::vector<uint8_t> in(kHashInputBytes);
    fill_random(rng, in.data(), in.size());
    h.Write(in.data(), in.size());
    PrepareKey(h.current);
    alignas(32) static uint8_t fresh[kKeyBytes];
    ExpandKey(fresh, h.current, kKeyBytes);
    for (uint32_t nonce = 0; nonce < 200; ++nonce) {
        std::memcpy(h.current + kBlockNonceOffset, &nonce, kNonceBytes);
        uint8_t out[32];
        h.Finalize(out);
        ASSERT_EQ(0, std::memcmp(ThreadKeyBuffer(), fresh, sizeof fresh)) << "nonce " << nonce;
    }
}

INSTANTIATE_FOR_EVERY_FORM(HasherTest);

TEST(HasherVariants, VersionSelectsVariantAndForm) {
    const DispatchGuard guard;
    // The hash version picks variant A (0), B (1) or C (2) of the probe answer's forms.
    const struct {
        int version;
        int variant;
    } rows[] = {{-5, 0}, {0, 0}, {2, 0}, {3, 1}, {4, 2}, {99, 2}};
    for (const auto& r : rows) {
        for (const HashForms* forms : kEveryForm) {
            fast_hash_support = forms->probe_answer;
            CZantuHashV2 h(r.version);
            EXPECT_EQ(h.mixFinal, forms->mix64[r.variant]) << r.version << "/" << forms->name;
            EXPECT_EQ(h.mixCore, forms->mix128[r.variant]) << r.version << "/" << forms->name;
            EXPECT_EQ(h.keySize, static_cast<int64_t>(kKeyBytes));
            EXPECT_EQ(h.keyIndexMask, static_cast<int64_t>(kKeyIndexMask));
        }
    }
    // No operation is in both records: a fast record that held a portable operation would
    // pass every known answer while that fast form never ran.
    EXPECT_NE(kFastForms.haraka256, kPortableForms.haraka256);
    EXPECT_NE(kFastForms.haraka512, kPortableForms.haraka512);
    EXPECT_NE(kFastForms.haraka512_rc, kPortableForms.haraka512_rc);
    for (int v = 0; v < 3; ++v) {
        EXPECT_NE(kFastForms.mix64[v], kPortableForms.mix64[v]) << v;
        EXPECT_NE(kFastForms.mix128[v], kPortableForms.mix128[v]) << v;
    }
}

int failing_allocator(void**, size_t, size_t) {
    return 12;
}

// In every build, NDEBUG or not: the message on standard output, a failed assertion's report
// on standard error, and the abort.
TEST(HasherAllocation, FailurePrintsAndAborts) {
    int fds[2], err_fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(pipe(err_fds), 0);
    std::fflush(stdout); // the child must not repeat what the parent buffered
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(err_fds[1], STDERR_FILENO);
        close(fds[0]);
        close(err_fds[0]);
        key_buffer_allocator = failing_allocator;
        // A fresh thread has no key buffer yet, so it must allocate.
        std::thread([] { CZantuHashV2 h(4); }).join();
        _exit(0);
    }
    close(fds[1]);
    close(err_fds[1]);
    const auto drain = [](int fd) {
        std::string text;
        char buf[256];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            text.append(buf, n);
        close(fd);
        return text;
    };
    const std::string out = drain(fds[0]);
    const std::string err = drain(err_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(out, "ERROR: failed to allocate hash buffer - terminating\n");
    EXPECT_NE(err.find("crypto/zantu_hash.h:"), std::string::npos) << err;
    EXPECT_NE(err.find(": CZantuHashV2::CZantuHashV2(int): Assertion `false' failed."),
              std::string::npos)
        << err;
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
}

} // namespace
