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

} // namespace

void RestoreDevice(engine::DriveNumber drive) {
    std::string errorText;
    CheckDevice(drive);
    if (!DeviceValid()) {
        Message(Text(254) + CrLf + Text(255), platform::vbExclamation);
        return Finish(ToolOutcome::Failed);
    }
    double capacity = GetDeviceCapacity(drive);
    if (capacity == 0) {
        Message(Text(234), platform::vbExclamation);
        return Finish(ToolOutcome::Failed);
    }
    std::int32_t blockSize = GetBlockSize(capacity / 100);
    if (blockSize == 0) {
        Message(Text(235), platform::vbExclamation);
        return Finish(ToolOutcome::Failed);
    }
    std::int32_t bytesPerSector = BootBytesPerSector();
    if (bytesPerSector > 0 && blockSize % bytesPerSector != 0) blockSize = blockSize / bytesPerSector * bytesPerSector;

    std::string path = ChooseMatchingImage(capacity);
    if (path.empty()) return Finish(ToolOutcome::Cancelled);

    if (Message(Text(259) + CrLf + Text(260), platform::vbYesNoCancel | platform::vbExclamation) != platform::IDYES)
        return Finish(ToolOutcome::Cancelled);

    bool driveOpen = false;
    try {
        ImageFile image(std::fopen(path.c_str(), "rb"));
        if (!image) throw support::RuntimeError(support::ErrFileNotFound, "AdvTools", "File not found");
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(blockSize), 0);
        Position position;
        platform::DoEvents();

        engine::CloseDrive(drive);
        if (engine::PrepareDriveForWrite(drive, errorText)) {
            driveOpen = true;
            bool writeFailed = false;
            while (CompareDiff(capacity, position, 0) == 1) {
                if (CompareDiff(capacity, position, blockSize) == -1) {
                    blockSize = SubInt64FromDouble(capacity, position);
                    buffer.assign(static_cast<std::size_t>(blockSize), 0);
                }
                ReadBlock(image.get(), buffer);
                if (!engine::WriteAtOffset(drive, static_cast<std::uint32_t>(position.low),
                                           static_cast<std::uint32_t>(position.high), buffer.data(),
                                           static_cast<std::uint32_t>(blockSize), errorText)) {
                    writeFailed = true;
                    break;
                }
                position = AddLongToInt64(blockSize, position);
                platform::DoEvents();
            }
            if (writeFailed) {
                double bytesWritten = Int64ToDouble(position);
                errorText += CrLf + Text(262) + " " + Decimal(bytesWritten) + " " + Text(238) + " " +
                             Decimal(capacity) + " " + Text(239) + " (" + FormatPercent(bytesWritten / capacity) + ")";
            }
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
    Finish(errorText.empty() ? ToolOutcome::Succeeded : ToolOutcome::Failed);
}

} // namespace tools
