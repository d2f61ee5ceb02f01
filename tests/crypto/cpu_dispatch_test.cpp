// The probe's decision for given processor answers, its caching, and the selection. Each
// architecture stands in for processors through its own seam: CPUID and XGETBV on x86-64,
// AT_HWCAP on aarch64.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "crypto/haraka/haraka.h"
#include "crypto/selection.h"
#include "tests/support/dispatch_guard.h"
#include "tests/support/known_answers.h"
#if defined(__x86_64__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace {

#if defined(__x86_64__)

// A processor and operating system that the test stands in for, with counts of CPUID and
// XGETBV executions.
struct FakeCpu {
    uint32_t max_leaf;
    uint32_t leaf1_ecx;
    uint32_t leaf7_ebx = 0;
    uint32_t leaf7_ecx = 0;
    uint64_t xcr0 = 0;
    int calls = 0;
    int leaf1_calls = 0;
    int leaf7_calls = 0;
    int xgetbv_calls = 0;
};
FakeCpu* fake_cpu = nullptr;

void fake_cpuid(uint32_t leaf, uint32_t, uint32_t regs[4]) {
    ++fake_cpu->calls;
    fake_cpu->leaf1_calls += leaf == 1;
    fake_cpu->leaf7_calls += leaf == 7;
    regs[0] = leaf == 0 ? fake_cpu->max_leaf : 0;
    regs[1] = leaf == 7 ? fake_cpu->leaf7_ebx : 0;
    regs[2] = leaf == 1 ? fake_cpu->leaf1_ecx : leaf == 7 ? fake_cpu->leaf7_ecx : 0;
    regs[3] = 0;
}

uint64_t fake_xgetbv(uint32_t) {
    ++fake_cpu->xgetbv_calls;
    return fake_cpu->xcr0;
}

// The seams and the processors the architecture-neutral tests stand in for.
struct Seams {
    cpuid_fn_t cpuid = cpuid_fn;
    xgetbv_fn_t xgetbv = xgetbv_fn;
    void restore() const { cpuid_fn = cpuid, xgetbv_fn = xgetbv; }
};
void install_fake() {
    cpuid_fn = fake_cpuid;
    xgetbv_fn = fake_xgetbv;
}
FakeCpu fast_cpu() {
    return {1, 0x12000002};
}
constexpr int kProbeReads = 2; // CPUID leaves 0 and 1
FakeCpu portable_cpu() {
    return {1, (1u << 25) | (1u << 1)}; // AES and PCLMULQDQ without AVX
}
// this_processor_is_fast reads this machine's answer without going through the probe.
bool this_processor_is_fast() {
    unsigned a, b, c, d;
    return fast_hash_decision(CpuFeatures{1, __get_cpuid(1, &a, &b, &c, &d) ? c : 0, 0, 0, 0}) == 1;
}

#elif defined(__aarch64__)

// A processor that the test stands in for: its AT_HWCAP word, and how often it was read.
struct FakeCpu {
    uint64_t hwcap;
    int calls = 0;
};
FakeCpu* fake_cpu = nullptr;

uint64_t fake_hwcap() {
    ++fake_cpu->calls;
    return fake_cpu->hwcap;
}

struct Seams {
    hwcap_fn_t hwcap = hwcap_fn;
    void restore() const { hwcap_fn = hwcap; }
};
void install_fake() {
    hwcap_fn = fake_hwcap;
}
FakeCpu fast_cpu() {
    return {HWCAP_AES | HWCAP_PMULL};
}
constexpr int kProbeReads = 1; // AT_HWCAP
FakeCpu portable_cpu() {
    return {HWCAP_AES}; // AES without PMULL
}
bool this_processor_is_fast() {
    return fast_hash_decision(CpuFeatures{getauxval(AT_HWCAP)}) == 1;
}

#endif

// Restores the process's real probe state after each test.
class ProbeTest : public ::testing::Test {
  protected:
    void TearDown() override {
        fake_cpu = nullptr;
        seams_.restore();
    }
    // on stands in for |cpu| with nothing probed yet.
    void on(FakeCpu& cpu) {
        fake_cpu = &cpu;
        install_fake();
        fast_hash_support = kNotProbed;
    }
    int32_t probe_on(FakeCpu& cpu) {
        on(cpu);
        return probe_fast_hash_support();
    }

  private:
    const DispatchGuard guard_;
    const Seams seams_;
};

#if defined(__x86_64__)

struct ProbeCase {
    const char* name;
    uint32_t max_leaf;
    uint32_t leaf1_ecx;
    int32_t expected;
    int expected_leaf1_calls;
};

const ProbeCase kProbeCases[] = {
    {"leaf0 reports no leaves", 0, 0xffffffff, 0, 0},
    {"AES and PCLMULQDQ without AVX", 1, (1u << 25) | (1u << 1), 0, 1},
    {"AES and AVX without PCLMULQDQ", 1, (1u << 25) | (1u << 28), 0, 1},
    {"PCLMULQDQ and AVX without AES", 1, (1u << 1) | (1u << 28), 0, 1},
    {"all three", 0xd, 0x12000002, 1, 1},
    {"all three with others set", 0x16, 0xfffa3203, 1, 1},
    {"nothing", 0xd, 0, 0, 1},
};

TEST_F(ProbeTest, DecisionTable) {
    for (const ProbeCase& c : kProbeCases) {
        EXPECT_EQ(fast_hash_decision(CpuFeatures{c.max_leaf, c.leaf1_ecx, 0, 0, 0}), c.expected)
            << c.name;
        FakeCpu cpu{c.max_leaf, c.leaf1_ecx};
        EXPECT_EQ(probe_on(cpu), c.expected) << c.name;
        EXPECT_EQ(cpu.leaf1_calls, c.expected_leaf1_calls) << c.name;
        EXPECT_EQ(fast_hash_support, c.expected) << c.name;
    }
}

// The in-flight path's decisions: each row takes one requirement away from a processor that
// has them all; XGETBV, which faults without OSXSAVE, runs only when CPUID reports it. The
// 128-bit form needs nothing from leaf 7, so a processor that lacks any of the AVX2 form's
// leaf-7 features takes it; a wrong column would let a processor run instructions it has not
// got, or keep one on a slower path than it could run.
TEST_F(ProbeTest, InFlightPathDecisionTable) {
    constexpr uint32_t kEcx = 0x12000002 | (1u << 23) | (1u << 27); // fast forms, POPCNT, OSXSAVE
    constexpr uint32_t kEbx = 0x128;                                // BMI1, AVX2, BMI2
    constexpr uint32_t kAvx512 = 0xc0030000;                        // AVX-512 F DQ BW VL
    constexpr uint32_t kEcx7 = 0x600;                               // VAES, VPCLMULQDQ
    constexpr uint64_t kXcr0 = 0x6;
    // clang-format off
    const struct {
        const char* name;
        FakeCpu cpu;
        int32_t flight, flight128;
        const NoncePath* path;
    } cases[] = {
        {"everything", {0xd, kEcx, kEbx, kEcx7, kXcr0}, 1, 1, &kFlightAvx2Path},
        {"and more", {0x20, 0xfffa3203 | kEcx, ~0u, ~0u, ~0ull}, 1, 1, &kFlightAvx512Path},
        {"AVX-512 too", {0xd, kEcx, kEbx | kAvx512, kEcx7, 0xe7}, 1, 1, &kFlightAvx512Path},
        {"AVX-512 without VL", {0xd, kEcx, (kEbx | kAvx512) & ~(1u << 31), kEcx7, 0xe7}, 1, 1,
         &kFlightAvx2Path},
        {"AVX-512 without BW", {0xd, kEcx, (kEbx | kAvx512) & ~(1u << 30), kEcx7, 0xe7}, 1, 1,
         &kFlightAvx2Path},
        {"AVX-512, system keeps no mask registers", {0xd, kEcx, kEbx | kAvx512, kEcx7, 0xc7}, 1,
         1, &kFlightAvx2Path},
        {"AVX-512, system keeps no upper registers", {0xd, kEcx, kEbx | kAvx512, kEcx7, 0x27}, 1,
         1, &kFlightAvx2Path},
        {"AVX-512 without VAES", {0xd, kEcx, kEbx | kAvx512, 1u << 10, 0xe7}, 0, 1,
         &kFlight128Path},
        {"no leaf 7", {6, kEcx, kEbx, kEcx7, kXcr0}, 0, 1, &kFlight128Path},
        {"no AVX: portable forms", {0xd, kEcx & ~(1u << 28), kEbx, kEcx7, kXcr0}, 0, 0,
         &kFinalizePath},
        {"no POPCNT", {0xd, kEcx & ~(1u << 23), kEbx, kEcx7, kXcr0}, 0, 1, &kFlight128Path},
        {"no BMI1", {0xd, kEcx, kEbx & ~(1u << 3), kEcx7, kXcr0}, 0, 1, &kFlight128Path},
        {"no AVX2", {0xd, kEcx, kEbx & ~(1u << 5), kEcx7, kXcr0}, 0, 1, &kFlight128Path},
        {"no BMI2", {0xd, kEcx, kEbx & ~(1u << 8), kEcx7, kXcr0}, 0, 1, &kFlight128Path},
        {"no VAES", {0xd, kEcx, kEbx, kEcx7 & ~(1u << 9), kXcr0}, 0, 1, &kFlight128Path},
        {"VAES without VPCLMULQDQ, as qemu's models have it", {0xd, kEcx, kEbx, 1u << 9, kXcr0},
         0, 1, &kFlight128Path},
        {"AES, PCLMULQDQ, AVX and OSXSAVE alone, as the 128-bit form needs",
         {1, 0x12000002 | (1u << 27), 0, 0, kXcr0}, 0, 1, &kFlight128Path},
        {"system keeps no 256-bit state", {0xd, kEcx, kEbx, kEcx7, 0x3}, 0, 0, &kLanesPath},
        {"system keeps no SSE state", {0xd, kEcx, kEbx, kEcx7, 0x4}, 0, 0, &kLanesPath},
        {"no OSXSAVE", {0xd, kEcx & ~(1u << 27), kEbx, kEcx7, kXcr0}, 0, 0, &kLanesPath},
    };
    // clang-format on
    for (const auto& c : cases) {
        FakeCpu cpu = c.cpu;
        on(cpu);
        const CpuFeatures features = read_cpu_features();
        EXPECT_EQ(flight_avx2_decision(features), c.flight) << c.name;
        EXPECT_EQ(flight128_decision(features), c.flight128) << c.name;
        EXPECT_EQ(cpu.leaf7_calls, cpu.max_leaf >= 7 ? 1 : 0) << c.name;
        EXPECT_EQ(cpu.xgetbv_calls, (cpu.leaf1_ecx >> 27) & 1) << c.name;
        on(cpu);
        select_haraka_implementations();
        EXPECT_EQ(selection.path, c.path) << c.name;
    }
}

#elif defined(__aarch64__)

// The crypto extensions come as AES and PMULL, which the kernel reports apart: the fast forms
// need both, and the in-flight path needs nothing more.
TEST_F(ProbeTest, DecisionTable) {
    const struct {
        const char* name;
        uint64_t hwcap;
        int32_t expected;
        const NoncePath* path;
    } cases[] = {
        {"AES and PMULL", HWCAP_AES | HWCAP_PMULL, 1, &kFlightPath},
        {"and more", ~uint64_t{0}, 1, &kFlightPath},
        {"AES without PMULL", HWCAP_AES, 0, &kFinalizePath},
        {"PMULL without AES", HWCAP_PMULL, 0, &kFinalizePath},
        {"nothing", 0, 0, &kFinalizePath},
    };
    for (const auto& c : cases) {
        FakeCpu cpu{c.hwcap};
        EXPECT_EQ(fast_hash_decision(CpuFeatures{c.hwcap}), c.expected) << c.name;
        EXPECT_EQ(probe_on(cpu), c.expected) << c.name;
        EXPECT_EQ(cpu.calls, 1) << c.name;
        on(cpu);
        select_haraka_implementations();
        EXPECT_EQ(selection.path, c.path) << c.name;
    }
}

#endif

TEST_F(ProbeTest, LaterProbesUseTheCachedAnswer) {
    FakeCpu cpu = fast_cpu();
    ASSERT_EQ(probe_on(cpu), 1);
    const int calls = cpu.calls;
    EXPECT_EQ(calls, kProbeReads);
    cpu = portable_cpu(); // a changed processor must not be seen again
    cpu.calls = calls;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(probe_fast_hash_support(), 1);
    EXPECT_EQ(cpu.calls, calls);
}

TEST_F(ProbeTest, SelectionInstallsOneFamilyAndGivesKnownAnswers) {
    const struct {
        FakeCpu cpu;
        const HashForms* forms;
    } cases[] = {{portable_cpu(), &kPortableForms}, {fast_cpu(), &kFastForms}};
    for (const auto& e : cases) {
        FakeCpu cpu = e.cpu;
        probe_on(cpu);
        select_haraka_implementations();
        EXPECT_EQ(haraka256_fn, e.forms->haraka256);
        EXPECT_EQ(haraka512_fn, e.forms->haraka512);
        EXPECT_EQ(haraka512_rc_fn, e.forms->haraka512_rc);
        if (e.forms->probe_answer == 1 && !this_processor_is_fast()) continue;
        EXPECT_EQ(haraka_answer_fault(haraka256_fn, haraka512_fn, haraka512_rc_fn), "");
    }
}

} // namespace
