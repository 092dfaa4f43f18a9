// The device tools: copy a volume to an image file, write an image back onto
// a volume, overwrite a volume with zeros. Each operation is one synchronous
// call on the user-interface thread, reports its outcome in message boxes
// (title: the tools' message title) and lets the tools window take input
// again on every path out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/RawDevice.h"
#include "support/Truth.h"

namespace tools {

// The window that runs the tools. It stops taking input (disabled, busy
// pointer) before it starts an operation; the operation gives input back
// when it ends, whatever the outcome.
class ToolWindow {
public:
    virtual ~ToolWindow() = default;
    virtual void StopTakingInput() = 0;
    virtual void TakeInputAgain() = 0;
};

// Installs the window the operations hand input back to; null: none.
void SetToolWindow(ToolWindow* window);
ToolWindow* CurrentToolWindow();

// How the last operation ended, for front ends that need more than the
// message boxes (tranquo-cli's exit status).
enum class ToolOutcome {
    Succeeded, // the whole transfer was done
    Failed,    // refused, or stopped by an error (a message said why)
    Cancelled, // the user cancelled or declined before anything was written
    Stopped,   // the user stopped the transfer (a message said how far it got)
};
ToolOutcome LastToolOutcome();

// What a run takes from its front end besides the drive: the stop flag (the
// window's Stop button, Ctrl-C), tested before every block, and an observer
// told the bytes done after every block.
struct ToolInputs {
    const std::atomic<bool>* stop = nullptr;
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;

    bool StopRequested() const { return stop && stop->load(); }
};

// Copies the whole volume, every byte of its capacity, to a new image file
// chosen through the file dialog. A stopped backup removes its unfinished
// image.
void BackupDevice(engine::DriveNumber drive, const ToolInputs& inputs = {});
// Writes an image file of exactly the volume's capacity back onto the drive,
// after a confirmation (whose default answer is No).
void RestoreDevice(engine::DriveNumber drive, const ToolInputs& inputs = {});
// Zeroes the drive from the end of its reserved area to its capacity; asks
// first unless confirmed (default answer No). True when the whole range was
// written.
support::Truth SecureEraseDevice(engine::DriveNumber drive, support::Truth confirmed, const ToolInputs& inputs = {});

// The common frame.
// Reads the drive's boot sector through the engine; sets DeviceValid and, on
// success, the bytes per sector and reserved sectors of this drive.
void CheckDevice(engine::DriveNumber drive);
support::Truth DeviceValid();
// Bytes per sector and reserved sectors of the last boot sector read.
std::int16_t BootBytesPerSector();
std::int16_t BootReservedSectors();
// The volume's size in bytes as the drive root reports it; 0 when unknown.
double GetDeviceCapacity(engine::DriveNumber drive);
// The transfer size for a run of about 100 blocks: 1 MiB above 1 MiB, else
// size rounded (halves to even) and then down to whole sectors.
std::int32_t GetBlockSize(double size);
// The standard file dialog titled with prompt; "" when cancelled.
std::string ShowFileDialog(const std::string& prompt, std::uint32_t options, support::Truth save);

// The report format "##0.##%": 0.5 gives "50%", 0.123456 "12.35%".
std::string FormatPercent(double fraction);

} // namespace tools
