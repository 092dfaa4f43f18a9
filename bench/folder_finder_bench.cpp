// bench_folder_finder: what looking for folders adds to the deep scan, per
// block of 4000 sectors as it reads them: photo data (random bytes), empty
// space (zeros), and a block of folder sectors (each one kept).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "wizard/FolderFinder.h"

namespace {

constexpr std::size_t SectorSize = 512;
constexpr std::size_t SectorsPerBlock = 4000;

std::vector<std::uint8_t> Block(int kind) {
    std::vector<std::uint8_t> block(SectorSize * SectorsPerBlock, 0);
    std::mt19937 random(1);
    if (kind == 0)
        for (auto& b : block) b = static_cast<std::uint8_t>(random());
    if (kind == 2)
        for (std::size_t at = 0; at < block.size(); at += 32) {
            const char name[] = "IMG_0001JPG";
            std::copy(name, name + 11, block.begin() + static_cast<std::ptrdiff_t>(at));
            block[at + 11] = 0x20;
            block[at + 26] = 5;
            block[at + 28] = 1;
        }
    return block;
}

void BM_FolderFinderFeed(benchmark::State& state) {
    const auto block = Block(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        wizard::FolderFinderSetup setup;
        setup.driveSectors = 2097152;  // 1 GiB
        wizard::FolderFinder finder(setup);
        finder.FeedBlock(0, block);
        benchmark::DoNotOptimize(finder.SectorsKept());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
}
// 0 photo data, 1 zeros, 2 folder sectors.
BENCHMARK(BM_FolderFinderFeed)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
