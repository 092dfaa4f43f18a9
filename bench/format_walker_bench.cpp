// Format-walker throughput: a 64 MiB file of each kind fed sector by sector
// (512 bytes), as the deep scan feeds a file being carved. Past the header a
// walker skips by the lengths it reads; only JPEG's coded data is looked at
// byte by byte (for its next marker).
//
//   bench_format_walkers [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "wizard/FormatWalker.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t FileBytes = 64 << 20;
constexpr std::size_t SectorSize = 512;

void Be32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Coded data: random bytes with every FF stuffed, a restart marker now and then.
Bytes Jpeg() {
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0};
    std::mt19937 random(1);
    while (jpeg.size() < FileBytes - 2) {
        jpeg.push_back(static_cast<std::uint8_t>(random()));
        if (jpeg.back() == 0xFF) jpeg.push_back(jpeg.size() % 4096 < 2 ? 0xD0 : 0x00);
    }
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    return jpeg;
}

// ftyp, moov, and one mdat with the rest.
Bytes Mp4() {
    Bytes mp4;
    Be32(mp4, 24);
    mp4.insert(mp4.end(), {'f', 't', 'y', 'p', 'i', 's', 'o', 'm'});
    mp4.resize(24, 0);
    Be32(mp4, 4096);
    mp4.insert(mp4.end(), {'m', 'o', 'o', 'v'});
    mp4.resize(24 + 4096, 0);
    Be32(mp4, static_cast<std::uint32_t>(FileBytes - mp4.size()));
    mp4.insert(mp4.end(), {'m', 'd', 'a', 't'});
    mp4.resize(FileBytes, 0x42);
    return mp4;
}

// MPEG-1 layer III frames of 417 bytes, the shortest a common file has.
Bytes Mp3() {
    Bytes mp3;
    while (mp3.size() + 417 <= FileBytes) {
        mp3.insert(mp3.end(), {0xFF, 0xFB, 0x90, 0x00});
        mp3.resize(mp3.size() + 413, 0x55);
    }
    return mp3;
}

// 2 KiB packs, each a pack header and one video packet.
Bytes Mpeg() {
    Bytes mpeg;
    for (std::uint32_t clock = 0; mpeg.size() + 2048 <= FileBytes; ++clock) {
        mpeg.insert(mpeg.end(), {0, 0, 1, 0xBA, static_cast<std::uint8_t>(0x44 | ((clock >> 13) & 3)),
                                 static_cast<std::uint8_t>(clock >> 5),
                                 static_cast<std::uint8_t>(0x04 | (clock << 3)), 0, 4, 1, 1, 0x89, 0xC3, 0xF8});
        mpeg.insert(mpeg.end(), {0, 0, 1, 0xE0, 0x07, 0xEC});
        mpeg.resize(mpeg.size() + 2028, 0x11);
    }
    return mpeg;
}

void Walk(benchmark::State& state, const Bytes& file) {
    auto walker = wizard::WalkerFor(file.data(), file.size());
    for (auto _ : state) {
        walker->Begin(static_cast<std::int64_t>(file.size()) + 4096);
        for (std::size_t at = 0; at + SectorSize <= file.size(); at += SectorSize) {
            walker->Feed(file.data() + at, SectorSize);
        }
        benchmark::DoNotOptimize(walker->State());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

void BM_WalkJpeg(benchmark::State& state) {
    static const Bytes file = Jpeg();
    Walk(state, file);
}
void BM_WalkMp4(benchmark::State& state) {
    static const Bytes file = Mp4();
    Walk(state, file);
}
void BM_WalkMp3(benchmark::State& state) {
    static const Bytes file = Mp3();
    Walk(state, file);
}
void BM_WalkMpeg(benchmark::State& state) {
    static const Bytes file = Mpeg();
    Walk(state, file);
}

BENCHMARK(BM_WalkJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkMp4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkMp3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkMpeg)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
