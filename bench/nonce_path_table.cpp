// The whole per-nonce path of a batch, as the nonce search runs it (tail fills, mixing,
// keyed compression, restore, candidate test, stop flag), for every path side by side:
// cycles and nanoseconds per nonce, medians over interleaved repetitions.
//
// No hardware counters are exposed here, so core cycles come from the time-stamp counter,
// calibrated against a chain of dependent one-cycle additions.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <x86intrin.h>

#include "crypto/nonce_lanes.h"
#include "crypto/nonce_scan.h"
#include "crypto/zantu_hash.h"
#include "version.h"

namespace {

std::atomic<uint8_t> stop_flag{0}; // stands in for the solver's line_ready

// Core cycles per time-stamp tick: |adds| dependent additions take |adds| core cycles.
struct Calibration {
    double cycles_per_tick;
    uint64_t adds, ticks;
};

Calibration calibrate_once() {
    constexpr uint64_t kLoops = 10000; // 100 additions per loop
    uint64_t x = 1;
    const uint64_t t0 = __rdtsc();
    for (uint64_t i = 0; i < kLoops; ++i) {
        asm volatile(".rept 100\n\tadd %0, %0\n\t.endr" : "+r"(x));
    }
    const uint64_t ticks = __rdtsc() - t0;
    return {static_cast<double>(100 * kLoops) / static_cast<double>(ticks), 100 * kLoops, ticks};
}

// A burst that another process interrupted only takes longer, so the fastest of many short
// bursts is the undisturbed one.
Calibration calibrate() {
    Calibration best = calibrate_once();
    for (int i = 0; i < 200; ++i) {
        const Calibration c = calibrate_once();
        if (c.ticks < best.ticks) best = c;
    }
    return best;
}

std::vector<uint8_t> hash_input(uint32_t salt) {
    std::vector<uint8_t> in(kHashInputBytes);
    uint64_t s = 0x9e3779b97f4a7c15ull * (salt + 1);
    for (auto& b : in) {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        b = static_cast<uint8_t>(s);
    }
    std::memcpy(in.data() + kHeaderBytes, kSolutionPrefix, sizeof kSolutionPrefix);
    return in;
}

// One in 256 nonces is a candidate, so the candidate branch is exercised but rare.
constexpr uint64_t kTarget = 0x00ffffffffffffffull;

struct Outcome {
    uint64_t candidates = 0, nonce_sum = 0, rejected = 0;
};

void prepare(CZantuHashV2& h, const std::vector<uint8_t>& in) {
    h.Reset();
    h.Write(in.data(), in.size());
    PrepareKey(h.current);
}

template <int Lanes> NonceLanes<Lanes>& lanes_of() {
    static NonceLanes<Lanes> lanes; // too large for a comfortable stack frame
    return lanes;
}

template <int Lanes> void begin_lanes(CZantuHashV2& h) {
    lanes_of<Lanes>().Begin(h);
}

template <int Lanes> uint32_t run_lanes(CZantuHashV2&, uint64_t count, Outcome& out) {
    return scan_nonce_lanes(
        lanes_of<Lanes>(), 0, count, kTarget,
        [&](uint32_t nonce) { ++out.candidates, out.nonce_sum += nonce; },
        [] { return stop_flag.load() != 0; });
}

void begin_nothing(CZantuHashV2&) {}

void count_candidate(void* context, uint32_t nonce) {
    Outcome& out = *static_cast<Outcome*>(context);
    ++out.candidates, out.nonce_sum += nonce;
}

bool stop_flag_set(void*) {
    return stop_flag.load() != 0;
}

// A path behind the nonce-scan interface, alone and as the search calls it: every candidate
// hashed again through Finalize. The table's target makes candidates about ten times as
// common as a pool's usually does, so the re-check weighs more here than in the solver.
template <const NoncePath& P> uint32_t run_path(CZantuHashV2& h, uint64_t count, Outcome& out) {
    return P.scan(h, 0, count, kTarget,
                  NonceScanSink{count_candidate, stop_flag_set, &out, nullptr});
}

template <const NoncePath& P> uint32_t run_checked(CZantuHashV2& h, uint64_t count, Outcome& out) {
    CandidateChecks checks{0, 0};
    const NonceScanSink sink{count_candidate, stop_flag_set, &out, nullptr};
    const uint32_t done = scan_nonces_checked(P, h, 0, count, kTarget, sink, checks);
    out.rejected += checks.rejected;
    return done;
}

struct Path {
    const char* name;
    int32_t fast;
    void (*begin)(CZantuHashV2&); // per batch, untimed
    uint32_t (*run)(CZantuHashV2&, uint64_t, Outcome&);
    uint64_t nonces; // per chunk
    std::vector<double> cycles, ns;
    Outcome outcome;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    std::printf("zantu-solver %s\n", ZANTU_VERSION);
    int chunks = 60;
    // Nonces per chunk: enough that a path's set-up per batch (the in-flight path copies the
    // key for each of its nonces) weighs about as little as in the solver's long batches.
    uint64_t nonces = 16384;
    bool portable = true;
    for (int a = 1; a < argc; ++a) {
        if (!std::strncmp(argv[a], "--chunks=", 9)) chunks = std::max(1, std::atoi(argv[a] + 9));
        if (!std::strncmp(argv[a], "--nonces=", 9))
            nonces = static_cast<uint64_t>(std::max(8, std::atoi(argv[a] + 9)));
        if (!std::strcmp(argv[a], "--fast-only")) portable = false;
    }
    const int32_t real = probe_fast_hash_support();

    // Chunks of a few milliseconds each, the paths taking turns, so that a burst of load
    // from elsewhere on the machine hits one chunk of one path instead of a whole row.
    std::vector<Path> paths;
    const auto add = [&paths](const char* name, int32_t fast, void (*begin)(CZantuHashV2&),
                              uint32_t (*run)(CZantuHashV2&, uint64_t, Outcome&), uint64_t n) {
        paths.push_back({name, fast, begin, run, n, {}, {}, {}});
    };
    if (real == 1) {
        add("Finalize, fast forms (reference)", 1, begin_nothing, run_path<kFinalizePath>, nonces);
        add("lanes x1", 1, begin_lanes<1>, run_lanes<1>, nonces);
        add("lanes x2 (the search's lane count)", 1, begin_lanes<2>, run_lanes<2>, nonces);
        add("lanes x3", 1, begin_lanes<3>, run_lanes<3>, nonces);
        add("two lanes, re-checked", 1, begin_nothing, run_checked<kLanesPath>, nonces);
        if (probe_nonce_flight_support() == 1) {
            add("in flight (AVX2)", 1, begin_nothing, run_path<kFlightPath>, nonces);
            add("in flight (AVX2), re-checked", 1, begin_nothing, run_checked<kFlightPath>, nonces);
        }
        if (probe_nonce_flight_avx512_support() == 1) {
            add("in flight (AVX-512)", 1, begin_nothing, run_path<kFlightAvx512Path>, nonces);
            add("in flight (AVX-512), re-checked", 1, begin_nothing, run_checked<kFlightAvx512Path>,
                nonces);
        }
    } else {
        std::printf("processor lacks the fast forms: portable path only\n");
    }
    if (portable || real != 1)
        add("Finalize, portable forms", 0, begin_nothing, run_path<kFinalizePath>, nonces / 8);

    const std::vector<uint8_t> input = hash_input(1);
    const Calibration before = calibrate();
    for (int r = 0; r < chunks; ++r) {
        for (Path& p : paths) {
            fast_hash_support = p.fast;
            install_haraka_forms(p.fast);
            CZantuHashV2 h(4);
            prepare(h, input);
            p.begin(h);
            Outcome o;
            const auto t0 = std::chrono::steady_clock::now();
            const uint64_t c0 = __rdtsc();
            const uint32_t done = p.run(h, p.nonces, o);
            const uint64_t c1 = __rdtsc();
            const auto t1 = std::chrono::steady_clock::now();
            p.ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / done);
            p.cycles.push_back(static_cast<double>(c1 - c0) / done);
            p.outcome = o;
        }
    }
    const Calibration after = calibrate();
    fast_hash_support = real;
    install_haraka_forms(real);

    const double per_tick = (before.cycles_per_tick + after.cycles_per_tick) / 2;
    std::printf("calibration: %llu dependent adds in %llu TSC ticks = %.4f core cycles per TSC "
                "tick (before the runs; %.4f after)\n",
                static_cast<unsigned long long>(before.adds),
                static_cast<unsigned long long>(before.ticks), before.cycles_per_tick,
                after.cycles_per_tick);
    std::printf("%-34s %12s %10s %12s %9s %10s %12s\n", "path", "cycles/nonce", "ns/nonce",
                "nonces/s", "vs ref", "best ns", "candidates");
    const double ref_ns = median(paths.front().ns);
    for (const Path& p : paths) {
        const double ns = median(p.ns);
        std::printf("%-34s %12.0f %10.1f %12.0f %8.2fx %10.1f %6llu/%llu\n", p.name,
                    median(p.cycles) * per_tick, ns, 1e9 / ns, ref_ns / ns,
                    *std::min_element(p.ns.begin(), p.ns.end()),
                    static_cast<unsigned long long>(p.outcome.candidates),
                    static_cast<unsigned long long>(p.nonces));
    }
    std::printf("(medians over %d chunks per path, the paths taking turns; cycles are TSC ticks "
                "times the mean calibration; best ns is the fastest chunk)\n",
                chunks);
    // The fast paths hash the same nonces, so their candidates must agree.
    for (const Path& p : paths)
        if (p.fast == 1 &&
            (p.outcome.candidates != paths.front().outcome.candidates ||
             p.outcome.nonce_sum != paths.front().outcome.nonce_sum || p.outcome.rejected != 0)) {
            std::printf("MISMATCH: %s found other candidates than the reference\n", p.name);
            return 1;
        }
    return 0;
}
