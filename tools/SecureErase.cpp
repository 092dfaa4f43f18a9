// Secure erase: one pass of zeros from the end of the reserved area to the
// volume's capacity. The boot sector and the other reserved sectors stay, so
// the card keeps its layout.
#include <cstdint>
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

std::int32_t ReservedAreaBytes() {
    std::int32_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::int32_t>(BootBytesPerSector()),
                               static_cast<std::int32_t>(BootReservedSectors()), &bytes))
        throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
    return bytes;
}

// Zeroing a card cannot be undone: Enter alone answers No.
bool Confirmed() {
    int style = platform::vbYesNo | platform::vbExclamation | platform::vbDefaultButton2;
    return Message(Text(231), style) == platform::IDYES;
}

// The common frame's checks; the refusal's text, or "" with the capacity and
// block size set.
std::string PlanErase(engine::DriveNumber drive, double& capacity, std::int32_t& blockSize) {
    CheckDevice(drive);
    if (!DeviceValid()) return Text(233);
    if ((capacity = GetDeviceCapacity(drive)) == 0) return Text(234);
    if ((blockSize = GetBlockSize(capacity / 100)) == 0) return Text(235);
    return "";
}

BlockCopy ZeroBlocks(engine::DriveNumber drive, double capacity, std::int32_t blockSize) {
    BlockCopy copy;
    copy.capacity = capacity;
    copy.start = Position{ReservedAreaBytes(), 0};
    copy.blockSize = blockSize;
    copy.yieldStep = WholeNumber((WholeNumber(capacity / blockSize) + 1) / 20.0);
    // The buffer starts as zeros and is never filled with anything else.
    copy.transfer = [drive](std::uint64_t offset, std::vector<std::uint8_t>& buffer, std::string& errorText) {
        return engine::WriteAtOffset(drive, static_cast<std::uint32_t>(offset & 0xFFFFFFFFu),
                                     static_cast<std::uint32_t>(offset >> 32), buffer.data(),
                                     static_cast<std::uint32_t>(buffer.size()), errorText) != 0;
    };
    return copy;
}

// The text of an erase that failed or was stopped part-way. The offset
// reached counts the reserved area too, so its share is of the whole card.
std::string UnfinishedText(const CopyResult& erased, const BlockCopy& copy, const std::string& errorText) {
    double offsetReached = Int64ToDouble(erased.reached);
    if (erased.end == CopyEnd::Stopped)
        return StoppedWritingText(offsetReached - Int64ToDouble(copy.start), copy.capacity);
    return errorText + CrLf + Text(236) + " " + Decimal(offsetReached) + " " + Text(237) + " " +
           Decimal(copy.capacity) + " " + Text(238) + " (" + FormatPercent(offsetReached / copy.capacity) + ")";
}

// Opens the drive for writing and zeroes the range; the outcome, with the
// message to show in errorText unless the whole range was written.
ToolOutcome Erase(engine::DriveNumber drive, const BlockCopy& copy, const ToolInputs& inputs, bool& driveOpen,
                  std::string& errorText) {
    engine::CloseDrive(drive);
    if (!engine::PrepareDriveForWrite(drive, errorText)) return ToolOutcome::Failed;
    driveOpen = true;
    CopyResult erased = CopyBlocks(copy, inputs, errorText);
    if (erased.end == CopyEnd::Completed) return ToolOutcome::Succeeded;
    errorText = UnfinishedText(erased, copy, errorText);
    return erased.end == CopyEnd::Stopped ? ToolOutcome::Stopped : ToolOutcome::Failed;
}

} // namespace

support::Truth SecureEraseDevice(engine::DriveNumber drive, support::Truth confirmed, const ToolInputs& inputs) {
    if (!confirmed && !Confirmed()) {
        Finish(ToolOutcome::Cancelled);
        return support::False;
    }

    double capacity = 0;
    std::int32_t blockSize = 0;
    std::string errorText = PlanErase(drive, capacity, blockSize);
    if (!errorText.empty()) {
        Message(errorText, platform::vbExclamation);
        Finish(ToolOutcome::Failed);
        return support::False;
    }

    ToolOutcome outcome = ToolOutcome::Failed;
    bool driveOpen = false;
    try {
        BlockCopy copy = ZeroBlocks(drive, capacity, blockSize);
        // A reserved area that reaches past the card comes from a damaged boot
        // sector: nothing would be erased, so it must not be reported as done.
        if (CompareDiff(capacity, copy.start, 0) != 1) {
            Message(Text(233), platform::vbExclamation);
            Finish(ToolOutcome::Failed);
            return support::False;
        }
        outcome = Erase(drive, copy, inputs, driveOpen, errorText);
    } catch (const std::exception& error) {
        Message(TrapText(error.what()), platform::vbExclamation);
        if (driveOpen) engine::CloseDrive(drive);
        Finish(ToolOutcome::Failed);
        return support::False;
    }

    if (outcome == ToolOutcome::Succeeded)
        Message(Text(240), platform::vbInformation);
    else
        Message(errorText, platform::vbExclamation);
    if (driveOpen) engine::CloseDrive(drive);
    Finish(outcome);
    return support::ToTruth(outcome == ToolOutcome::Succeeded);
}

} // namespace tools
