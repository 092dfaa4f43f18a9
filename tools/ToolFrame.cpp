// The frame the device tools share: device check, capacity, block size, the
// file dialog, message conventions and the window hand-back.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "engine/BootSector.h"
#include "engine/FATEngine.h"
#include "Typhex.h"
#include "engine/FileHelpers.h"
#include "engine/RawDevice.h"
#include "platform/ui.h"
#include "shell/DestinationChoice.h"
#include "shell/frmPasser.h"
#include "support/RuntimeError.h"
#include "tools/AdvTools.h"
#include "tools/ToolFrame.h"

namespace tools {

namespace {

ToolWindow* toolWindow = nullptr;
support::Truth deviceValid = support::False;
engine::VolumeLayout deviceLayout;  // of the device last checked
ToolOutcome lastOutcome = ToolOutcome::Succeeded;

constexpr double kLargestBlock = 1048576.0;

} // namespace

void SetToolWindow(ToolWindow* window) { toolWindow = window; }
ToolWindow* CurrentToolWindow() { return toolWindow; }
ToolOutcome LastToolOutcome() { return lastOutcome; }

void CheckDevice(engine::DriveNumber drive) {
    // The check comes before any error trap of the operations: a run-time
    // error inside it (a geometry too large for 32-bit sector numbers) makes
    // the device unusable for the tools instead of ending the program.
    deviceLayout = engine::VolumeLayout{};
    try {
        auto checker = std::make_unique<engine::FATEngine>();
        deviceValid = support::ToTruth(checker->ReadDeviceBootSector(drive) != 0);
        deviceLayout = checker->Layout();
    } catch (const support::RuntimeError&) {
        deviceValid = support::False;
    }
}

support::Truth DeviceValid() { return deviceValid; }

std::int16_t BootBytesPerSector() { return static_cast<std::int16_t>(deviceLayout.Boot.BytesPerSector); }
std::int16_t BootReservedSectors() { return static_cast<std::int16_t>(deviceLayout.Boot.ReservedSectors); }

double GetDeviceCapacity(engine::DriveNumber drive) {
    std::string root;
    root += static_cast<char>('A' + drive - 1);
    root += ':';
    std::string text = engine::DiskCapacity(root);
    // Like Val: the leading number, 0 when there is none.
    char* end = nullptr;
    double capacity = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? 0.0 : capacity;
}

std::int32_t GetBlockSize(double size) {
    if (size > kLargestBlock) return static_cast<std::int32_t>(kLargestBlock);
    if (!(size > 0)) return 0;
    // nearbyint follows the current rounding mode: to nearest, halves to even.
    auto block = static_cast<std::int32_t>(std::nearbyint(size));
    std::int32_t bytesPerSector = BootBytesPerSector();
    // A boot sector without a sector size gives no usable block.
    if (bytesPerSector <= 0) return 0;
    if (block % bytesPerSector != 0) block = block / bytesPerSector * bytesPerSector;
    return block;
}

std::string ShowFileDialog(const std::string& prompt, std::uint32_t options, support::Truth save) {
    platform::FileDialogRequest request;
    request.prompt = prompt;
    request.flags = options;
    request.save = save != 0;
    // Images are kept with the recovered files, and a card copy is an .img
    // to most disk tools; the other names stay one choice away.
    request.startFolder = shell::PresetFolder();
    request.nameFilters = {"Card images (*.img *.IMG *.dd *.bin *.raw)", "All files (*)"};
    request.defaultSuffix = "img";
    return platform::Ui().FileDialog(request);
}

std::string FormatPercent(double fraction) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", fraction * 100.0);
    std::string number = text;
    // "##0.##": the decimals only as far as they are not zero.
    while (!number.empty() && number.back() == '0') number.pop_back();
    if (!number.empty() && number.back() == '.') number.pop_back();
    if (number == "-0") number = "0";
    return number + "%";
}

namespace frame {

const std::string& Text(int number) { return shell::frmPasser().LANG.at(static_cast<std::size_t>(number)); }

int Message(const std::string& text, int style) { return platform::MsgBox(text, style, Text(232)); }

void Finish(ToolOutcome outcome) {
    lastOutcome = outcome;
    if (toolWindow) toolWindow->TakeInputAgain();
}

std::string TrapText(const std::string& description) { return Text(241) + " " + description; }

namespace {

void CheckCall(HRESULT hr, const char* method) {
    if (FAILED(hr))
        throw support::RuntimeError(support::ErrObjectRequired, "AdvTools", std::string("Method '") + method + "' failed");
}

} // namespace

std::int32_t CompareDiff(double capacity, const Position& position, std::int32_t compareTo) {
    LONG low = position.low, high = position.high, result = 0;
    CheckCall(engine::SharedExtraLong().CompareDiff(capacity, &low, &high, compareTo, &result), "CompareDiff");
    return result;
}

std::int32_t SubInt64FromDouble(double capacity, const Position& position) {
    LONG low = position.low, high = position.high, result = 0;
    CheckCall(engine::SharedExtraLong().SubInt64FromDouble(capacity, &low, &high, &result), "SubInt64FromDouble");
    return result;
}

Position AddLongToInt64(std::int32_t count, const Position& position) {
    LONG low = position.low, high = position.high, resultLow = 0, resultHigh = 0;
    CheckCall(engine::SharedExtraLong().AddLongToInt64(count, &low, &high, &resultLow, &resultHigh), "AddLongToInt64");
    return Position{resultLow, resultHigh};
}

double Int64ToDouble(const Position& position) {
    LONG low = position.low, high = position.high;
    double result = 0;
    CheckCall(engine::SharedExtraLong().Int64ToDouble(&low, &high, &result), "Int64ToDouble");
    return result;
}

std::int32_t WholeNumber(double value) {
    double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        throw support::RuntimeError(support::ErrOverflow, "AdvTools", "Overflow");
    return static_cast<std::int32_t>(rounded);
}

CopyResult CopyBlocks(const BlockCopy& copy, const ToolInputs& inputs, std::string& errorText) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(copy.blockSize), 0);
    std::int32_t blockSize = copy.blockSize;
    CopyResult result{CopyEnd::Completed, copy.start};
    const double first = Int64ToDouble(copy.start);
    std::int32_t blocks = 0;
    platform::DoEvents();
    while (CompareDiff(copy.capacity, result.reached, 0) == 1) {
        if (inputs.StopRequested()) {
            result.end = CopyEnd::Stopped;
            return result;
        }
        ++blocks;
        if (CompareDiff(copy.capacity, result.reached, blockSize) == -1) {
            blockSize = SubInt64FromDouble(copy.capacity, result.reached);
            buffer.resize(static_cast<std::size_t>(blockSize));
        }
        auto offset = static_cast<std::uint64_t>(Int64ToDouble(result.reached));
        if (!copy.transfer(offset, buffer, errorText)) {
            result.end = CopyEnd::Failed;
            return result;
        }
        result.reached = AddLongToInt64(blockSize, result.reached);
        if (inputs.progress)
            inputs.progress(static_cast<std::uint64_t>(Int64ToDouble(result.reached) - first),
                            static_cast<std::uint64_t>(copy.capacity - first));
        if (copy.yieldStep <= 1 || blocks % copy.yieldStep == 0) platform::DoEvents();
    }
    return result;
}

std::string AmountOf(double done, double total) {
    // The unit in which the total reads as at least 10.
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    double scale = 1;
    while (unit < 4 && total / scale >= 10 * 1024) {
        scale *= 1024;
        ++unit;
    }
    auto number = [scale](double value) {
        char text[64];
        // Whole units from 100 on, else one decimal where it says something.
        std::snprintf(text, sizeof text, scale > 1 && value / scale < 100 ? "%.1f" : "%.0f", value / scale);
        std::string shown = text;
        if (shown.size() > 2 && shown.compare(shown.size() - 2, 2, ".0") == 0) shown.resize(shown.size() - 2);
        return shown;
    };
    return number(done) + " of " + number(total) + " " + units[unit];
}

std::string StoppedWritingText(double written, double capacity) {
    if (written <= 0) return "Stopped before anything was written; the card is unchanged.";
    return "Stopped: the card is now partly overwritten: " + AmountOf(written, capacity) + ".";
}

std::string Decimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

} // namespace frame

} // namespace tools
