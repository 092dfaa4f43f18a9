// failing-card: how long the deep scan takes over a card with a long
// unreadable stretch, when every failed read costs time as on a real card
// (a card that fails answers each read only after its time-out).
//
//   failing-card [BAD_SECTORS] [MS_PER_FAILED_READ]
//
// The card is 1 GiB of empty 512-byte sectors (nothing to carve, so the
// figures are the reading alone) whose sectors from 1,000,000 on are
// unreadable for BAD_SECTORS sectors (default 200,000, about 100 MB). Prints
// the wall time, the reads asked of the card, the failed ones, and the
// sectors lost (tried and failed, or skipped without a try).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

#include "Typhex.h"
#include "engine/RawDevice.h"
#include "platform/com.h"
#include "platform/drives.h"
#include "platform/oleauto.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "wizard/DeepScan.h"

namespace {

constexpr std::uint32_t Sector = 512;
constexpr std::uint64_t Sectors = 2097152; // 1 GiB
constexpr std::uint64_t BadFrom = 1000000;

class FailingCard : public platform::VolumeBackend {
public:
    FailingCard(std::uint64_t badSectors, int msPerFailure) : badEnd_(BadFrom + badSectors), ms_(msPerFailure) {}
    std::uint64_t Size() const override { return Sectors * Sector; }
    std::uint32_t BytesPerSector() const override { return Sector; }
    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override {
        ++reads;
        const std::uint64_t first = offset / Sector;
        const std::uint64_t last = (offset + count - 1) / Sector;
        if (first < badEnd_ && last >= BadFrom) {
            ++failedReads;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms_));
            if (error) *error = ERROR_READ_FAULT;
            return -1;
        }
        std::memset(buffer, 0, count);
        return count;
    }
    std::int64_t Write(std::uint64_t, const void*, std::uint32_t, DWORD* error) override {
        if (error) *error = ERROR_WRITE_PROTECT;
        return -1;
    }
    bool BeginWrite(DWORD* error) override {
        if (error) *error = ERROR_WRITE_PROTECT;
        return false;
    }
    void EndWrite() override {}

    std::uint64_t reads = 0;
    std::uint64_t failedReads = 0;

private:
    std::uint64_t badEnd_;
    int ms_;
};

class Host : public wizard::DeepScanHost {
public:
    engine::DriveNumber drive = 0;
    std::string root;
    engine::DriveNumber Drive() override { return drive; }
    engine::DriveGeometry Geometry() override {
        engine::DriveGeometry geometry;
        geometry.BytesPerSector = Sector;
        geometry.TotalSectors = static_cast<std::int32_t>(Sectors);
        return geometry;
    }
    std::int32_t FirstDataSector() override { return 0; }
    std::int32_t SectorsAtOnce() override { return 4000; }
    std::int32_t RetryLimit() override { return 1; }
    std::string FilenamePrefix() override { return ""; }
    std::string DestinationRoot() override { return root; }
    std::int32_t BarMaximum() override { return 100; }
    std::string WizardText(int n) override { return "text " + std::to_string(n); }
    std::int64_t FilesFoundShown() override { return 0; }
    void EnterScanningLook() override {}
    void EnableBack() override {}
    void ShowStatus(const std::string&) override {}
    void ShowFilesFound(std::int64_t) override {}
    void ShowImagesFound(std::int64_t) override {}
    void ShowReadErrors(std::int64_t) override {}
    void ShowCurrentFile(const std::string&) override {}
    void ShowProgress(std::int32_t) override {}
    bool StopRequested() override { return false; }
    void SetStopRequested(bool) override {}
};

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t bad = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;
    const int ms = argc > 2 ? std::atoi(argv[2]) : 1;
    const auto folder = std::filesystem::temp_directory_path() / ("failing-card-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::setenv("TRANQUO_REGISTRY", (folder / "registry").c_str(), 1);
    platform::ReloadRegistry();
    CoInitialize(nullptr);
    if (FAILED(platform::RegisterServer(TYPHEX_LIBRARY_FILE))) return 1;
    platform::ComPtr<ISupportedFileTypes> types;
    CoCreateInstance(CLSID_SupportedFileTypes, nullptr, CLSCTX_INPROC_SERVER, IID_ISupportedFileTypes,
                     types.PutVoid());
    BSTR name = platform::BstrFromUtf8(TYPHEX_DATABASE_FILE);
    VARIANT_BOOL loaded = 0;
    types->LoadFromFile(name, &loaded);
    SysFreeString(name);
    if (!loaded) return 1;

    auto card = std::make_shared<FailingCard>(bad, ms);
    Host host;
    host.drive = engine::DriveNumberFromLetter(platform::AttachVolume(card, "failing card"));
    host.root = folder.string() + "/";
    wizard::DeepScan scan;
    const auto started = std::chrono::steady_clock::now();
    scan.Run(host, types.Get());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto& outcome = scan.LastOutcome();
    std::printf("%llu bad sectors, %d ms per failed read: %.2f s, %llu reads (%llu failed), "
                "%lld sectors lost (%lld skipped)\n",
                static_cast<unsigned long long>(bad), ms, seconds, static_cast<unsigned long long>(card->reads),
                static_cast<unsigned long long>(card->failedReads), static_cast<long long>(outcome.unreadableSectors),
                static_cast<long long>(outcome.skippedSectors));
    types.Reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
