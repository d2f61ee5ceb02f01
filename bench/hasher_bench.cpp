// Costs of the hasher's operations, per form: one Finalize (variant C), one key
// expansion, one key restore, one Write of the 1487-byte hash input; and the multi-nonce
// finish per nonce, for each lane count. bench/nonce_path_table.cpp prints the whole
// per-nonce path side by side.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "crypto/nonce/lanes.h"
#include "crypto/selection.h"
#include "crypto/zantu_hash.h"
#include "version.h"

namespace {

// Names the build in the run's header (and in JSON output, where a printed line would not fit).
[[maybe_unused]] const bool version_noted =
    (benchmark::AddCustomContext("zantu-solver", ZANTU_VERSION), true);

// Installs one form for the duration of a benchmark; returns false if the processor lacks it.
bool use_form(benchmark::State& state, int32_t fast) {
    static const int32_t real = probe_fast_hash_support(); // before any benchmark changes it
    if (fast == 1 && real != 1) {
        state.SkipWithError("processor lacks the fast forms");
        return false;
    }
    install_selection({&hash_forms_for(fast), &kFinalizePath, batch_size_for(fast)});
    return true;
}

std::vector<uint8_t> hash_input() {
    std::vector<uint8_t> in(kHashInputBytes);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<uint8_t>(i * 7 + 3);
    return in;
}

void BM_Finalize(benchmark::State& state, int32_t fast) {
    if (!use_form(state, fast)) return;
    CZantuHashV2 h(4);
    const std::vector<uint8_t> in = hash_input();
    h.Write(in.data(), in.size());
    PrepareKey(h.current);
    uint32_t nonce = 0;
    uint8_t out[32];
    for (auto _ : state) {
        std::memcpy(h.current + kBlockNonceOffset, &nonce, kNonceBytes);
        h.Finalize(out);
        benchmark::DoNotOptimize(out);
        ++nonce;
    }
    state.SetItemsProcessed(state.iterations());
}

template <int Lanes> void BM_NonceLanes(benchmark::State& state) {
    if (!use_form(state, 1)) return;
    CZantuHashV2 h(4);
    const std::vector<uint8_t> in = hash_input();
    h.Write(in.data(), in.size());
    PrepareKey(h.current);
    static NonceLanes<Lanes> lanes;
    lanes.Begin(h);
    uint32_t nonce = 0;
    uint64_t words[Lanes];
    for (auto _ : state) {
        lanes.Hash(nonce, words);
        benchmark::DoNotOptimize(words);
        nonce += Lanes;
    }
    state.SetItemsProcessed(state.iterations() * Lanes);
}

void BM_PrepareKeyExpand(benchmark::State& state, int32_t fast) {
    if (!use_form(state, fast)) return;
    CZantuHashV2 h(4);
    alignas(16) uint8_t seeds[2][32] = {{1}, {2}};
    int which = 0;
    for (auto _ : state) {
        PrepareKey(seeds[which]); // alternating seeds: every call expands
        which ^= 1;
    }
}

void BM_PrepareKeyRestore(benchmark::State& state, int32_t fast) {
    if (!use_form(state, fast)) return;
    CZantuHashV2 h(4);
    alignas(16) uint8_t seed[32] = {3};
    PrepareKey(seed);
    for (auto _ : state) {
        PrepareKey(seed);
        benchmark::ClobberMemory();
    }
}

void BM_WriteHashInput(benchmark::State& state, int32_t fast) {
    if (!use_form(state, fast)) return;
    CZantuHashV2 h(4);
    const std::vector<uint8_t> in = hash_input();
    for (auto _ : state) {
        h.Reset();
        h.Write(in.data(), in.size());
        benchmark::DoNotOptimize(h.current);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

BENCHMARK_CAPTURE(BM_Finalize, fast, 1);
BENCHMARK_CAPTURE(BM_Finalize, portable, 0);
// Items are nonces: compare items_per_second with BM_Finalize/fast.
BENCHMARK_TEMPLATE(BM_NonceLanes, 1);
BENCHMARK_TEMPLATE(BM_NonceLanes, 2);
BENCHMARK_TEMPLATE(BM_NonceLanes, 3);
BENCHMARK_CAPTURE(BM_PrepareKeyExpand, fast, 1);
BENCHMARK_CAPTURE(BM_PrepareKeyExpand, portable, 0);
BENCHMARK_CAPTURE(BM_PrepareKeyRestore, fast, 1);
BENCHMARK_CAPTURE(BM_PrepareKeyRestore, portable, 0);
BENCHMARK_CAPTURE(BM_WriteHashInput, fast, 1);
BENCHMARK_CAPTURE(BM_WriteHashInput, portable, 0);

} // namespace

BENCHMARK_MAIN();
