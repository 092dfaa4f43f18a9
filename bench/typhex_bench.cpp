// Typhex matching speed: FindMatchingStart at every sector boundary of card
// data with the shipped database, and MatchesEnd on every sector of a JPEG
// being carved, both over a deep-scan-sized buffer passed by reference.
//
//   bench_typhex [--benchmark_filter=...]
//
// The library is registered in a private registry store and created through
// activation, as the program does.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "Typhex.h"
#include "platform/registry.h"

namespace {

constexpr std::size_t SectorSize = 512;
constexpr std::size_t SectorsPerBlock = 4000;
constexpr std::size_t BufferSize = SectorSize * SectorsPerBlock + 1; // as the deep scan reads

// Entropy-coded JPEG scan data: random bytes in which every 0xFF is
// followed by a stuffed 0x00, and no marker.
void FillScanData(std::vector<BYTE>& buffer, std::size_t from, std::size_t to, std::mt19937& random) {
    for (std::size_t i = from; i < to; ++i) {
        buffer[i] = static_cast<BYTE>(random());
        if (buffer[i] == 0xFF && i + 1 < to) buffer[++i] = 0x00;
    }
}

// A used card: 4 KiB clusters of photo data, a quarter of them never
// written (zeros), and a JPEG start at every 64th cluster.
std::vector<BYTE> CardData() {
    std::vector<BYTE> buffer(BufferSize, 0);
    std::mt19937 random(20240607);
    const std::size_t cluster = 4096;
    for (std::size_t start = 0, index = 0; start < BufferSize; start += cluster, ++index) {
        const std::size_t end = std::min(BufferSize, start + cluster);
        if (random() % 4 == 0) continue;
        FillScanData(buffer, start, end, random);
        if (index % 64 == 0 && end - start > 20) {
            const BYTE header[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x1F, 0xFE, 'E', 'x', 'i', 'f', 0, 0};
            std::copy(std::begin(header), std::end(header), buffer.begin() + static_cast<long>(start));
        }
    }
    return buffer;
}

struct Library {
    Library() {
        folder = std::filesystem::temp_directory_path() / ("typhex-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        ::setenv("TRANQUO_REGISTRY", (folder / "registry").c_str(), 1);
        platform::ReloadRegistry();
        if (FAILED(platform::RegisterServer(TYPHEX_LIBRARY_FILE))) std::abort();
        CoCreateInstance(CLSID_SupportedFileTypes, nullptr, CLSCTX_INPROC_SERVER, IID_ISupportedFileTypes,
                         types.PutVoid());
        BSTR name = platform::BstrFromUtf8(TYPHEX_DATABASE_FILE);
        VARIANT_BOOL loaded = 0;
        types->LoadFromFile(name, &loaded);
        SysFreeString(name);
        if (!loaded) std::abort();
        types->put_SectorSize(SectorSize);
    }
    ~Library() {
        types.Reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::filesystem::path folder;
    platform::ComPtr<ISupportedFileTypes> types;
};

Library& Shared() {
    static Library library;
    return library;
}

void BM_FindMatchingStart(benchmark::State& state) {
    ISupportedFileTypes* types = Shared().types.Get();
    std::vector<BYTE> card = CardData();
    platform::BorrowedByteArray array(card.data(), static_cast<ULONG>(card.size()));
    IFileSignature* signature = nullptr;
    BSTR extension = nullptr;
    std::size_t matches = 0;
    for (auto _ : state) {
        for (std::size_t sector = 0; sector < SectorsPerBlock; ++sector) {
            VARIANT_BOOL match = 0;
            types->FindMatchingStart(array.ByRefVariant(), static_cast<LONG>(sector * SectorSize), &signature,
                                     &extension, &match);
            matches += match != 0;
        }
    }
    benchmark::DoNotOptimize(matches);
    if (signature) signature->Release();
    SysFreeString(extension);
    state.counters["per_sector"] =
        benchmark::Counter(static_cast<double>(SectorsPerBlock), benchmark::Counter::kIsIterationInvariantRate |
                                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_FindMatchingStart)->Unit(benchmark::kMicrosecond);

// The same search asked of each type in list order, as a client without the
// set's index would: the reference for the index's gain.
void BM_MatchesAtStartEveryType(benchmark::State& state) {
    ISupportedFileTypes* types = Shared().types.Get();
    LONG count = 0;
    types->get_ItemCount(&count);
    std::vector<platform::ComPtr<ISupportedFileType>> list(static_cast<std::size_t>(count));
    for (LONG i = 0; i < count; ++i) types->get_FileType(static_cast<SHORT>(i), list[i].Put());
    std::vector<BYTE> card = CardData();
    platform::BorrowedByteArray array(card.data(), static_cast<ULONG>(card.size()));
    IFileSignature* signature = nullptr;
    for (auto _ : state) {
        for (std::size_t sector = 0; sector < SectorsPerBlock; ++sector) {
            for (auto& type : list) {
                VARIANT_BOOL match = 0;
                type->MatchesAtStart(array.ByRefVariant(), static_cast<LONG>(sector * SectorSize), &signature, &match);
                if (match) break;
            }
        }
    }
    if (signature) signature->Release();
    state.counters["per_sector"] =
        benchmark::Counter(static_cast<double>(SectorsPerBlock), benchmark::Counter::kIsIterationInvariantRate |
                                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_MatchesAtStartEveryType)->Unit(benchmark::kMicrosecond);

// MatchesEnd of the JPEG signature on every sector of a photo's scan data,
// where no end is found: the cost paid on all but the last sector of a file.
void BM_MatchesEndJpeg(benchmark::State& state) {
    ISupportedFileTypes* types = Shared().types.Get();
    std::vector<BYTE> photo(BufferSize);
    std::mt19937 random(7);
    FillScanData(photo, 0, photo.size(), random);
    const BYTE header[] = {0xFF, 0xD8, 0xFF, 0xE0};
    std::copy(std::begin(header), std::end(header), photo.begin());
    platform::BorrowedByteArray array(photo.data(), static_cast<ULONG>(photo.size()));
    IFileSignature* jpeg = nullptr;
    BSTR extension = nullptr;
    VARIANT_BOOL match = 0;
    types->FindMatchingStart(array.ByRefVariant(), 0, &jpeg, &extension, &match);
    if (!match || platform::Utf8FromBstr(extension) != "JPG") std::abort();
    std::size_t ends = 0;
    for (auto _ : state) {
        for (std::size_t sector = 0; sector < SectorsPerBlock; ++sector) {
            LONG endPoint = 0;
            VARIANT_BOOL ended = 0;
            const auto at = static_cast<LONG>(sector * SectorSize);
            jpeg->MatchesEnd(array.ByRefVariant(), at, at, &endPoint, &ended);
            ends += ended != 0;
        }
    }
    benchmark::DoNotOptimize(ends);
    jpeg->Release();
    SysFreeString(extension);
    state.counters["per_sector"] =
        benchmark::Counter(static_cast<double>(SectorsPerBlock), benchmark::Counter::kIsIterationInvariantRate |
                                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_MatchesEndJpeg)->Unit(benchmark::kMicrosecond);

// Loading the shipped database into a new set: every inner object is made
// through activation, as the library does.
void BM_LoadShippedDatabase(benchmark::State& state) {
    Shared();
    BSTR name = platform::BstrFromUtf8(TYPHEX_DATABASE_FILE);
    for (auto _ : state) {
        platform::ComPtr<ISupportedFileTypes> set;
        CoCreateInstance(CLSID_SupportedFileTypes, nullptr, CLSCTX_INPROC_SERVER, IID_ISupportedFileTypes,
                         set.PutVoid());
        VARIANT_BOOL loaded = 0;
        set->LoadFromFile(name, &loaded);
        if (!loaded) std::abort();
    }
    SysFreeString(name);
}
BENCHMARK(BM_LoadShippedDatabase)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
