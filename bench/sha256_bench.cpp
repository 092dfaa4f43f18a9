// bench_sha256: the recovery report's hash over recovered bytes, in the
// pieces a file is read back in.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/Sha256.h"

static void BM_Sha256(benchmark::State& state) {
    const std::vector<unsigned char> piece(static_cast<std::size_t>(state.range(0)), 0x5a);
    for (auto _ : state) {
        engine::Sha256 hash;
        for (int i = 0; i < 64; ++i) hash.Update(piece.data(), piece.size());
        benchmark::DoNotOptimize(hash.HexDigest());
    }
    state.SetBytesProcessed(state.iterations() * 64 * state.range(0));
}
BENCHMARK(BM_Sha256)->Arg(1 << 16);

BENCHMARK_MAIN();
