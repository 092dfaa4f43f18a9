// Secure erase: one pass of zeros from the end of the reserved area to the
// volume's capacity. The boot sector and the other reserved sectors stay, so
// the card keeps its layout.
#include <cmath>
#include <cstdint>
#include <limits>
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

std::int32_t WholeNumber(double value) {
    double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
    return static_cast<std::int32_t>(rounded);
}

std::int32_t ReservedAreaBytes() {
    std::int32_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::int32_t>(BootBytesPerSector()),
                               static_cast<std::int32_t>(BootReservedSectors()), &bytes))
        throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
    return bytes;
}

} // namespace

support::Truth SecureEraseDevice(engine::DriveNumber drive, support::Truth confirmed) {
    if (!confirmed && Message(Text(231), platform::vbYesNo | platform::vbExclamation) != platform::IDYES) {
        Finish(ToolOutcome::Cancelled);
        return support::False;
    }

    std::string errorText;
    double capacity = 0;
    std::int32_t blockSize = 0;
    CheckDevice(drive);
    if (!DeviceValid()) {
        errorText = Text(233);
    } else if ((capacity = GetDeviceCapacity(drive)) == 0) {
        errorText = Text(234);
    } else if ((blockSize = GetBlockSize(capacity / 100)) == 0) {
        errorText = Text(235);
    }
    if (!errorText.empty()) {
        Message(errorText, platform::vbExclamation);
        Finish(ToolOutcome::Failed);
        return support::False;
    }

    support::Truth result = support::False;
    bool driveOpen = false;
    try {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(blockSize), 0);
        Position position{ReservedAreaBytes(), 0};
        std::int32_t blocksWritten = 0;
        std::int32_t blockCount = WholeNumber(capacity / blockSize) + 1;
        std::int32_t step = WholeNumber(blockCount / 20.0);
        platform::DoEvents();

        // A reserved area that reaches past the card comes from a damaged boot
        // sector: nothing would be erased, so it must not be reported as done.
        if (CompareDiff(capacity, position, 0) != 1) {
            Message(Text(233), platform::vbExclamation);
            Finish(ToolOutcome::Failed);
            return support::False;
        }

        engine::CloseDrive(drive);
        if (engine::PrepareDriveForWrite(drive, errorText)) {
            driveOpen = true;
            bool writeFailed = false;
            while (CompareDiff(capacity, position, 0) == 1) {
                ++blocksWritten;
                if (CompareDiff(capacity, position, blockSize) == -1) {
                    blockSize = SubInt64FromDouble(capacity, position);
                    buffer.resize(static_cast<std::size_t>(blockSize));
                }
                if (!engine::WriteAtOffset(drive, static_cast<std::uint32_t>(position.low),
                                           static_cast<std::uint32_t>(position.high), buffer.data(),
                                           static_cast<std::uint32_t>(blockSize), errorText)) {
                    writeFailed = true;
                    break;
                }
                position = AddLongToInt64(blockSize, position);
                if (step <= 1 || blocksWritten % step == 0) platform::DoEvents();
            }
            if (!writeFailed) {
                Message(Text(240), platform::vbInformation);
                result = support::True;
            } else {
                double offsetReached = Int64ToDouble(position);
                errorText += CrLf + Text(236) + " " + Decimal(offsetReached) + " " + Text(237) + " " +
                             Decimal(capacity) + " " + Text(238) + " (" + FormatPercent(offsetReached / capacity) +
                             ")";
            }
        }
    } catch (const std::exception& error) {
        errorText.clear();
        Message(TrapText(error.what()), platform::vbExclamation);
        if (driveOpen) engine::CloseDrive(drive);
        Finish(ToolOutcome::Failed);
        return support::False;
    }

    if (!result) Message(errorText, platform::vbExclamation);
    if (driveOpen) engine::CloseDrive(drive);
    Finish(result ? ToolOutcome::Succeeded : ToolOutcome::Failed);
    return result;
}

} // namespace tools
