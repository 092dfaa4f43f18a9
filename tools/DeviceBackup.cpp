// Backup: the raw bytes of a volume from its first sector into a new image
// file, without header or trailer.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "engine/FileHelpers.h"
#include "engine/FileTypeTable.h"
#include "engine/NewOutputFile.h"
#include "engine/RawDevice.h"
#include "engine/SameStorage.h"
#include "platform/drives.h"
#include "platform/fileapi.h"
#include "platform/ui.h"
#include "support/RuntimeError.h"
#include "tools/AdvTools.h"
#include "tools/ToolFrame.h"
#include "wizard/SectorSource.h"

namespace tools {

namespace {

using namespace frame;

constexpr std::uint32_t kSaveOptions = 0x8006; // overwrite prompt, hide read-only, no read-only return

struct BackupPlan {
    double capacity = 0;
    std::int32_t blockSize = 0;
    std::int32_t sectorSize = 0;
};

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

// The common frame's checks; false after the refusal's message.
bool PlanBackup(engine::DriveNumber drive, BackupPlan& plan) {
    CheckDevice(drive);
    if (!DeviceValid()) {
        Message(Text(233), platform::vbExclamation);
        return false;
    }
    plan.capacity = GetDeviceCapacity(drive);
    if (plan.capacity == 0) {
        Message(Text(234), platform::vbExclamation);
        return false;
    }
    plan.blockSize = GetBlockSize(plan.capacity / 100);
    plan.sectorSize = TransferSectorSize(drive);
    std::int32_t blockSectors = plan.sectorSize > 0 ? plan.blockSize / plan.sectorSize : 0;
    if (plan.blockSize == 0 || blockSectors < 1) {
        Message(Text(235), platform::vbExclamation);
        return false;
    }
    plan.blockSize = plan.sectorSize * blockSectors;
    return true;
}

// A name that is taken in any way: a file, a folder, or a symbolic link,
// also one that points nowhere (writing through it would create its target).
bool NameTaken(const std::string& path) {
    struct stat info {};
    return engine::FileExists(path) || ::lstat(path.c_str(), &info) == 0;
}

// Asks until the user names a file that does not exist yet, or cancels.
std::string ChooseNewImageFile() {
    for (;;) {
        std::string path = ShowFileDialog(Text(242), kSaveOptions, support::True);
        if (path.empty()) return path;
        if (!NameTaken(path)) return path;
        Message(Text(244), platform::vbInformation);
    }
}

// The bytes that follow the last whole sector of the drive, which sector
// reads cannot name: read straight through the drive's handle.
bool ReadPartialSector(engine::DriveNumber drive, std::uint64_t offset, std::uint8_t* buffer, DWORD count) {
    return wizard::ReadDriveBytes(drive, offset, buffer, count) == static_cast<std::int64_t>(count);
}

// One block of the image: whole sectors, and at the very end of the drive
// the part of a sector that remains.
bool ReadBlock(engine::DriveNumber drive, std::int32_t sectorSize, std::uint64_t offset,
               std::vector<std::uint8_t>& buffer) {
    auto sectors = static_cast<std::int32_t>(buffer.size() / static_cast<std::size_t>(sectorSize));
    auto tail = static_cast<DWORD>(buffer.size() % static_cast<std::size_t>(sectorSize));
    if (sectors > std::numeric_limits<std::int16_t>::max())
        throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
    auto first = static_cast<std::int32_t>(offset / static_cast<std::uint64_t>(sectorSize));
    if (sectors > 0 && !engine::ReadSectors(drive, first, static_cast<std::int16_t>(sectors), buffer)) return false;
    std::size_t whole = buffer.size() - tail;
    return tail == 0 || ReadPartialSector(drive, offset + whole, buffer.data() + whole, tail);
}

BlockCopy CopyToImage(engine::DriveNumber drive, const BackupPlan& plan, std::int64_t totalSectors) {
    BlockCopy copy;
    copy.capacity = plan.capacity;
    copy.blockSize = plan.blockSize;
    std::int32_t blockSectors = plan.blockSize / plan.sectorSize;
    copy.yieldStep = WholeNumber((WholeNumber(static_cast<double>(totalSectors) / blockSectors) + 1) / 20.0);
    copy.transfer = [drive, sectorSize = plan.sectorSize](std::uint64_t offset, std::vector<std::uint8_t>& buffer,
                                                          std::string& errorText) {
        if (!ReadBlock(drive, sectorSize, offset, buffer)) {
            errorText = Text(248);
            return false;
        }
        auto bytes = static_cast<std::int32_t>(buffer.size());
        if (engine::WriteOutputChunk(buffer, 0, bytes) != bytes) {
            errorText = Text(249);
            return false;
        }
        return true;
    };
    return copy;
}

void ReportBackup(const std::string& errorText, double bytesCopied, const BackupPlan& plan,
                  std::int64_t totalSectors) {
    if (errorText.empty()) {
        Message(Text(250), platform::vbInformation);
        return;
    }
    auto sectorsCopied = static_cast<std::int64_t>(bytesCopied) / plan.sectorSize;
    double share = totalSectors > 0 ? static_cast<double>(sectorsCopied) / static_cast<double>(totalSectors) : 0.0;
    Message(errorText + CrLf + Text(251) + " " + std::to_string(sectorsCopied) + " " + Text(252) + " " +
                std::to_string(totalSectors) + " " + Text(253) + " (" + FormatPercent(share) + ")",
            platform::vbExclamation);
}

} // namespace

void BackupDevice(engine::DriveNumber drive, const ToolInputs& inputs) {
    BackupPlan plan;
    if (!PlanBackup(drive, plan)) return Finish(ToolOutcome::Failed);

    std::string path = ChooseNewImageFile();
    if (path.empty()) return Finish(ToolOutcome::Cancelled);

    // An image written onto the card it copies would overwrite what it copies.
    platform::DriveInfo info;
    if (platform::FindDrive(static_cast<char>('A' + drive - 1), &info) &&
        engine::FolderOnSource(TargetFolder(path), info.source)) {
        Message("The image cannot be written to " + path + ": it is on the drive being copied (" + info.source +
                    "). Choose a folder on another drive.",
                platform::vbCritical);
        return Finish(ToolOutcome::Failed);
    }

    if (engine::DiskFreeSpace(TargetFolder(path)) < plan.capacity) {
        Message(Text(245), platform::vbInformation);
        return Finish(ToolOutcome::Failed);
    }

    std::string errorText;
    // Written under a temporary name beside it and named when closed: an
    // image cut short by a crash never stands under the name asked for.
    engine::NewOutputFile image;
    CopyResult copied;
    // Every byte of the card, the part of a last sector included, so that
    // the image restores onto the card it came from.
    std::int64_t totalSectors = 0;
    try {
        if (!image.Open(TargetFolder(path), nullptr)) {
            Message(Text(246), platform::vbExclamation);
            return Finish(ToolOutcome::Failed);
        }
        totalSectors = (std::llround(plan.capacity) + plan.sectorSize - 1) / plan.sectorSize;
        if (totalSectors > std::numeric_limits<std::int32_t>::max())
            throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
        copied = CopyBlocks(CopyToImage(drive, plan, totalSectors), inputs, errorText);
    } catch (const std::exception& error) {
        Message(TrapText(error.what()), platform::vbExclamation);
        image.Discard();
        return Finish(ToolOutcome::Failed);
    }

    // Close before reporting: the writer's last buffered bytes go out here,
    // and a failure there must not follow a message of success.
    bool closed = image.Close();
    if (copied.end == CopyEnd::Stopped) {
        // An unfinished image under the name asked for would pass for a backup.
        image.Discard();
        Message("Stopped; the unfinished image was removed.", platform::vbExclamation);
        return Finish(ToolOutcome::Stopped);
    }
    if (!closed && errorText.empty()) errorText = Text(249);
    // A file that took the name meanwhile is kept, never written over.
    std::string why;
    if (image.Commit(std::filesystem::path(path).filename().string(), {}, &why).empty() && errorText.empty())
        errorText = Text(249) + " (" + why + ")";
    ReportBackup(errorText, Int64ToDouble(copied.reached), plan, totalSectors);
    Finish(errorText.empty() ? ToolOutcome::Succeeded : ToolOutcome::Failed);
}

} // namespace tools
