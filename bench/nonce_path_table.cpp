// The whole per-nonce path of a batch, as the nonce search runs it (tail fills, mixing,
// keyed compression, restore, candidate test, stop flag), for every path side by side:
// cycles and nanoseconds per nonce, medians over interleaved repetitions.
//
// No hardware counters are exposed here, so core cycles come from a fixed-rate tick counter,
// calibrated against a chain of dependent one-cycle additions (bench/ticks.h).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/nonce/lanes.h"
#include "crypto/nonce/nonce_path.h"
#include "crypto/selection.h"
#include "crypto/zantu_hash.h"
#include "ticks.h"
#include "version.h"

namespace {

std::atomic<uint8_t> stop_flag{0}; // stands in for the solver's line_ready

// Core cycles per tick: |adds| dependent additions take |adds| core cycles.
struct Calibration {
    double cycles_per_tick;
    uint64_t adds, ticks;
};

Calibration calibrate_once() {
    constexpr uint64_t kLoops = 10000; // 100 additions per loop
    const uint64_t t0 = ticks();
    add_chain(kLoops);
    const uint64_t spent = ticks() - t0;
    return {static_cast<double>(100 * kLoops) / static_cast<double>(spent), 100 * kLoops, spent};
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
    uint64_t candidates = 0, nonce_sum = 0, rejected = 0, wrong_kernel = 0;
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
// A row that timed another kernel than its path's would time the fallback under its name.
void count_kernel(const NonceRun& run, const NoncePath& path, Outcome& out) {
    if (run.path != &path) ++out.wrong_kernel;
}

uint32_t run_path(const NoncePath& path, CZantuHashV2& h, uint64_t count, Outcome& out) {
    const NonceRun run = run_nonce_scan(
        path, h, 0, count, kTarget, NonceScanSink{count_candidate, stop_flag_set, &out, nullptr});
    count_kernel(run, path, out);
    return run.done;
}

uint32_t run_checked(const NoncePath& path, CZantuHashV2& h, uint64_t count, Outcome& out) {
    CandidateChecks checks{0, 0};
    const NonceScanSink sink{count_candidate, stop_flag_set, &out, nullptr};
    const NonceRun run = scan_nonces_checked(path, h, 0, count, kTarget, sink, checks);
    count_kernel(run, path, out);
    out.rejected += checks.rejected;
    return run.done;
}

struct Path {
    std::string name;
    int32_t fast;
    void (*begin)(CZantuHashV2&);                       // per batch, untimed
    uint32_t (*run)(CZantuHashV2&, uint64_t, Outcome&); // or the path's kernel, when set
    const NoncePath* path;
    uint32_t (*run_kernel)(const NoncePath&, CZantuHashV2&, uint64_t, Outcome&);
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
    // --rows=a,b,...: only the rows with these tags (finalize, lanes1..3, a path's tag, and
    // TAG+ for its re-checked row, portable), so that a slow tool can run one or two paths;
    // the first row kept is the reference.
    std::string rows;
    for (int a = 1; a < argc; ++a) {
        if (!std::strncmp(argv[a], "--rows=", 7)) rows = std::string(",") + (argv[a] + 7) + ",";
        if (!std::strncmp(argv[a], "--chunks=", 9)) chunks = std::max(1, std::atoi(argv[a] + 9));
        if (!std::strncmp(argv[a], "--nonces=", 9))
            nonces = static_cast<uint64_t>(std::max(8, std::atoi(argv[a] + 9)));
        if (!std::strcmp(argv[a], "--fast-only")) portable = false;
    }
    const int32_t real = probe_fast_hash_support();
    const Selection installed = selection;

    // Chunks of a few milliseconds each, the paths taking turns, so that a burst of load
    // from elsewhere on the machine hits one chunk of one path instead of a whole row.
    std::vector<Path> paths;
    const auto wanted = [&rows](const std::string& tag) {
        return rows.empty() || rows.find("," + tag + ",") != std::string::npos;
    };
    const auto add = [&paths, &wanted](std::string name, const char* tag, int32_t fast,
                                       void (*begin)(CZantuHashV2&),
                                       uint32_t (*run)(CZantuHashV2&, uint64_t, Outcome&),
                                       uint64_t n) {
        if (!wanted(tag)) return;
        paths.push_back({std::move(name), fast, begin, run, nullptr, nullptr, n, {}, {}, {}});
    };
    const auto add_path = [&paths, &wanted](const NoncePath& path, const char* tag, int32_t fast,
                                            bool checked, uint64_t n) {
        if (!wanted(std::string(tag) + (checked ? "+" : ""))) return false;
        paths.push_back({std::string(path.name) + (checked ? ", re-checked" : ""),
                         fast,
                         begin_nothing,
                         nullptr,
                         &path,
                         checked ? run_checked : run_path,
                         n,
                         {},
                         {},
                         {}});
        return true;
    };
    if (real == 1) {
        if (add_path(kFinalizePath, "finalize", 1, false, nonces))
            paths.back().name = "Finalize, fast forms (reference)";
        add("lanes x1", "lanes1", 1, begin_lanes<1>, run_lanes<1>, nonces);
        add("lanes x2 (the search's lane count)", "lanes2", 1, begin_lanes<2>, run_lanes<2>,
            nonces);
        add("lanes x3", "lanes3", 1, begin_lanes<3>, run_lanes<3>, nonces);
        // Every multi-nonce path this processor runs, alone and as the search runs it.
        const CpuFeatures features = read_cpu_features();
        for (size_t i = 1; i < kNoncePathCount; ++i) {
            if (kNoncePaths[i]->decision(features) != 1) continue;
            add_path(*kNoncePaths[i], kNoncePaths[i]->tag, 1, false, nonces);
            add_path(*kNoncePaths[i], kNoncePaths[i]->tag, 1, true, nonces);
        }
    } else {
        std::printf("processor lacks the fast forms: portable path only\n");
    }
    if ((portable || real != 1) && add_path(kFinalizePath, "portable", 0, false, nonces / 8))
        paths.back().name = "Finalize, portable forms";
    if (paths.empty()) {
        std::printf("no row has a tag of --rows\n");
        return 1;
    }

    const std::vector<uint8_t> input = hash_input(1);
    const Calibration before = calibrate();
    for (int r = 0; r < chunks; ++r) {
        for (Path& p : paths) {
            install_selection({&hash_forms_for(p.fast), &kFinalizePath, batch_size_for(p.fast)});
            CZantuHashV2 h(4);
            prepare(h, input);
            p.begin(h);
            Outcome o;
            const auto t0 = std::chrono::steady_clock::now();
            const uint64_t c0 = ticks();
            const uint32_t done =
                p.path ? p.run_kernel(*p.path, h, p.nonces, o) : p.run(h, p.nonces, o);
            const uint64_t c1 = ticks();
            const auto t1 = std::chrono::steady_clock::now();
            p.ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / done);
            p.cycles.push_back(static_cast<double>(c1 - c0) / done);
            p.outcome = o;
        }
    }
    const Calibration after = calibrate();
    install_selection(installed);

    const double per_tick = (before.cycles_per_tick + after.cycles_per_tick) / 2;
    std::printf("calibration: %llu dependent adds in %llu ticks = %.4f core cycles per tick "
                "(before the runs; %.4f after)\n",
                static_cast<unsigned long long>(before.adds),
                static_cast<unsigned long long>(before.ticks), before.cycles_per_tick,
                after.cycles_per_tick);
    std::printf("%-34s %12s %10s %12s %9s %10s %12s %12s\n", "path", "cycles/nonce", "ns/nonce",
                "nonces/s", "vs ref", "best ns", "candidates", "working set");
    const double ref_ns = median(paths.front().ns);
    for (const Path& p : paths) {
        const double ns = median(p.ns);
        char working[32] = "";
        if (p.path) std::snprintf(working, sizeof working, "%zu KiB", p.path->working_bytes / 1024);
        std::printf("%-34s %12.0f %10.1f %12.0f %8.2fx %10.1f %6llu/%llu %12s\n", p.name.c_str(),
                    median(p.cycles) * per_tick, ns, 1e9 / ns, ref_ns / ns,
                    *std::min_element(p.ns.begin(), p.ns.end()),
                    static_cast<unsigned long long>(p.outcome.candidates),
                    static_cast<unsigned long long>(p.nonces), working);
    }
    std::printf("(medians over %d chunks per path, the paths taking turns; cycles are ticks "
                "times the mean calibration; best ns is the fastest chunk; working set: the "
                "path's own memory per thread, beside the thread's key buffer)\n",
                chunks);
    // The fast paths hash the same nonces, so their candidates must agree, and each row must
    // have timed its own kernel.
    for (const Path& p : paths) {
        if (p.outcome.wrong_kernel != 0) {
            std::printf("MISMATCH: %s ran another path's kernel\n", p.name.c_str());
            return 1;
        }
        if (p.fast == 1 &&
            (p.outcome.candidates != paths.front().outcome.candidates ||
             p.outcome.nonce_sum != paths.front().outcome.nonce_sum || p.outcome.rejected != 0)) {
            std::printf("MISMATCH: %s found other candidates than the reference\n", p.name.c_str());
            return 1;
        }
    }
    return 0;
}
