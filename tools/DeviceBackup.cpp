// Backup: the raw bytes of a volume from its first sector into a new image
// file, without header or trailer.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "engine/FileHelpers.h"
#include "engine/FileTypeTable.h"
#include "engine/RawDevice.h"
#include "platform/ui.h"
#include "support/RuntimeError.h"
#include "tools/AdvTools.h"
#include "tools/ToolFrame.h"

namespace tools {

namespace {

using namespace frame;

constexpr std::uint32_t kSaveOptions = 0x8006; // overwrite prompt, hide read-only, no read-only return

// The folder whose file system receives the image.
std::string TargetFolder(const std::string& path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// The sector size the drive reads in: the device's own when known. A damaged
// boot sector may claim another size; reading with it would leave gaps in
// the image.
std::int32_t TransferSectorSize(engine::DriveNumber drive) {
    const engine::DriveEntry& entry = engine::DriveTableEntry(drive);
    if (entry.GeometryKnown != 0 && entry.Geometry.BytesPerSector > 0) return entry.Geometry.BytesPerSector;
    return BootBytesPerSector();
}

std::int32_t WholeNumber(double value) {
    double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
    return static_cast<std::int32_t>(rounded);
}

// Asks until the user names a file that does not exist yet, or cancels.
std::string ChooseNewImageFile() {
    for (;;) {
        std::string path = ShowFileDialog(Text(242), kSaveOptions, support::True);
        if (path.empty()) return path;
        if (!engine::FileExists(path)) return path;
        Message(Text(244), platform::vbInformation);
    }
}

} // namespace

void BackupDevice(engine::DriveNumber drive) {
    std::string errorText;
    CheckDevice(drive);
    if (!DeviceValid()) {
        Message(Text(233), platform::vbExclamation);
        return Finish(ToolOutcome::Failed);
    }
    double capacity = GetDeviceCapacity(drive);
    if (capacity == 0) {
        Message(Text(234), platform::vbExclamation);
        return Finish(ToolOutcome::Failed);
    }
    std::int32_t blockSize = GetBlockSize(capacity / 100);
    std::int32_t sectorSize = TransferSectorSize(drive);
    std::int32_t blockSectors = sectorSize > 0 ? blockSize / sectorSize : 0;
    if (blockSize == 0 || blockSectors < 1) {
        Message(Text(235), platform::vbExclamation);
        return Finish(ToolOutcome::Failed);
    }
    if (blockSize % sectorSize != 0) blockSize = sectorSize * blockSectors;

    std::string path = ChooseNewImageFile();
    if (path.empty()) return Finish(ToolOutcome::Cancelled);

    if (engine::DiskFreeSpace(TargetFolder(path)) < capacity) {
        Message(Text(245), platform::vbInformation);
        return Finish(ToolOutcome::Failed);
    }

    bool imageOpen = false;
    std::int32_t sectorsCopied = 0;
    std::int64_t totalSectors = 0;
    try {
        if (!engine::OpenOutputFile(path)) {
            Message(Text(246), platform::vbExclamation);
            return Finish(ToolOutcome::Failed);
        }
        imageOpen = true;

        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(blockSize), 0);
        // The size as a 64-bit count: cards of 2 GiB and more are common.
        totalSectors = std::llround(capacity) / sectorSize;
        if (totalSectors > std::numeric_limits<std::int32_t>::max())
            throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
        platform::DoEvents();

        std::int32_t step = WholeNumber((WholeNumber(static_cast<double>(totalSectors) / blockSectors) + 1) / 20.0);
        std::int32_t blockNumber = 0;
        while (sectorsCopied < totalSectors) {
            auto n = static_cast<std::int32_t>(std::min<std::int64_t>(blockSectors, totalSectors - sectorsCopied));
            if (n > std::numeric_limits<std::int16_t>::max())
                throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
            std::size_t bytes = static_cast<std::size_t>(n) * static_cast<std::size_t>(sectorSize);
            if (buffer.size() != bytes) buffer.resize(bytes);
            if (!engine::ReadSectors(drive, sectorsCopied, static_cast<std::int16_t>(n), buffer)) {
                errorText = Text(248);
                break;
            }
            if (engine::WriteOutputChunk(buffer, 0, static_cast<std::int32_t>(bytes)) !=
                static_cast<std::int32_t>(bytes)) {
                errorText = Text(249);
                break;
            }
            sectorsCopied += n;
            ++blockNumber;
            if (step <= 1 || blockNumber % step == 0) platform::DoEvents();
        }
    } catch (const std::exception& error) {
        Message(TrapText(error.what()), platform::vbExclamation);
        if (imageOpen) engine::CloseOutputFile();
        return Finish(ToolOutcome::Failed);
    }

    // Close before reporting: the writer's last buffered bytes go out here,
    // and a failure there must not follow a message of success.
    if (!engine::CloseOutputFile() && errorText.empty()) errorText = Text(249);

    if (errorText.empty()) {
        Message(Text(250), platform::vbInformation);
    } else {
        Message(errorText + CrLf + Text(251) + " " + std::to_string(sectorsCopied) + " " + Text(252) + " " +
                    std::to_string(totalSectors) + " " + Text(253) + " (" +
                    FormatPercent(totalSectors > 0 ? static_cast<double>(sectorsCopied) / static_cast<double>(totalSectors)
                                                   : 0.0) +
                    ")",
                platform::vbExclamation);
    }
    Finish(errorText.empty() ? ToolOutcome::Succeeded : ToolOutcome::Failed);
}

} // namespace tools
