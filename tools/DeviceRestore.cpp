// Restore: an image file made by the backup written back onto the volume,
// image byte k to volume byte k, boot sector included.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/RawDevice.h"
#include "platform/ui.h"
#include "support/RuntimeError.h"
#include "tools/AdvTools.h"
#include "tools/ToolFrame.h"

namespace tools {

namespace {

using namespace frame;

constexpr std::uint32_t kOpenOptions = 0x1000; // file must exist
constexpr long kInputPastEndOfFile = 62;

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file) std::fclose(file);
    }
};
using ImageFile = std::unique_ptr<std::FILE, FileCloser>;

// The image's length in bytes, -1 when it cannot be asked. A 64-bit count:
// images of cards of 2 GiB and more must match their capacity too.
std::int64_t ImageLength(const std::string& path) {
    std::error_code error;
    auto length = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<std::int64_t>(length);
}

// Asks until the user picks an image of exactly the volume's size, or cancels.
std::string ChooseMatchingImage(double capacity) {
    for (;;) {
        std::string path = ShowFileDialog(Text(256), kOpenOptions, support::False);
        if (path.empty()) return path;
        if (static_cast<double>(ImageLength(path)) == capacity) return path;
        Message(Text(257) + CrLf + Text(258), platform::vbExclamation);
    }
}

void ReadBlock(std::FILE* image, std::vector<std::uint8_t>& buffer) {
    if (std::fread(buffer.data(), 1, buffer.size(), image) != buffer.size())
        throw support::RuntimeError(kInputPastEndOfFile, "AdvTools", "Input past end of file");
}

// The common frame's checks; 0 after the refusal's message, else the block
// size in whole sectors.
std::int32_t PlanRestore(engine::DriveNumber drive, double& capacity) {
    CheckDevice(drive);
    if (!DeviceValid()) {
        Message(Text(254) + CrLf + Text(255), platform::vbExclamation);
        return 0;
    }
    capacity = GetDeviceCapacity(drive);
    if (capacity == 0) {
        Message(Text(234), platform::vbExclamation);
        return 0;
    }
    std::int32_t blockSize = GetBlockSize(capacity / 100);
    if (blockSize == 0) {
        Message(Text(235), platform::vbExclamation);
        return 0;
    }
    std::int32_t bytesPerSector = BootBytesPerSector();
    if (bytesPerSector > 0 && blockSize % bytesPerSector != 0) blockSize = blockSize / bytesPerSector * bytesPerSector;
    return blockSize;
}

// Writing over a card cannot be undone: Enter alone answers No.
bool Confirmed() {
    int style = platform::vbYesNoCancel | platform::vbExclamation | platform::vbDefaultButton2;
    return Message(Text(259) + CrLf + Text(260), style) == platform::IDYES;
}

BlockCopy CopyFromImage(engine::DriveNumber drive, double capacity, std::int32_t blockSize, std::FILE* image) {
    BlockCopy copy;
    copy.capacity = capacity;
    copy.blockSize = blockSize;
    copy.yieldStep = 1;
    copy.transfer = [drive, image](std::uint64_t offset, std::vector<std::uint8_t>& buffer, std::string& errorText) {
        ReadBlock(image, buffer);
        return engine::WriteAtOffset(drive, static_cast<std::uint32_t>(offset & 0xFFFFFFFFu),
                                     static_cast<std::uint32_t>(offset >> 32), buffer.data(),
                                     static_cast<std::uint32_t>(buffer.size()), errorText) != 0;
    };
    return copy;
}

// The message of a write that failed or was stopped part-way.
void ReportUnfinished(const CopyResult& copied, double capacity, std::string& errorText) {
    double bytesWritten = Int64ToDouble(copied.reached);
    if (copied.end == CopyEnd::Stopped) {
        errorText = StoppedWritingText(bytesWritten, capacity);
        return;
    }
    errorText += CrLf + Text(262) + " " + Decimal(bytesWritten) + " " + Text(238) + " " + Decimal(capacity) + " " +
                 Text(239) + " (" + FormatPercent(bytesWritten / capacity) + ")";
}

} // namespace

void RestoreDevice(engine::DriveNumber drive, const ToolInputs& inputs) {
    double capacity = 0;
    std::int32_t blockSize = PlanRestore(drive, capacity);
    if (blockSize == 0) return Finish(ToolOutcome::Failed);

    std::string path = ChooseMatchingImage(capacity);
    if (path.empty()) return Finish(ToolOutcome::Cancelled);
    if (!Confirmed()) return Finish(ToolOutcome::Cancelled);

    std::string errorText;
    bool driveOpen = false;
    CopyResult copied;
    try {
        ImageFile image(std::fopen(path.c_str(), "rb"));
        if (!image) throw support::RuntimeError(support::ErrFileNotFound, "AdvTools", "File not found");
        engine::CloseDrive(drive);
        if (engine::PrepareDriveForWrite(drive, errorText)) {
            driveOpen = true;
            copied = CopyBlocks(CopyFromImage(drive, capacity, blockSize, image.get()), inputs, errorText);
            if (copied.end != CopyEnd::Completed) ReportUnfinished(copied, capacity, errorText);
        }
    } catch (const std::exception& error) {
        Message(TrapText(error.what()), platform::vbExclamation);
        if (driveOpen) engine::CloseDrive(drive);
        return Finish(ToolOutcome::Failed);
    }

    if (errorText.empty())
        Message(Text(263), platform::vbInformation);
    else
        Message(errorText, platform::vbExclamation);
    if (driveOpen) engine::CloseDrive(drive);
    if (copied.end == CopyEnd::Stopped) return Finish(ToolOutcome::Stopped);
    Finish(errorText.empty() ? ToolOutcome::Succeeded : ToolOutcome::Failed);
}

} // namespace tools
