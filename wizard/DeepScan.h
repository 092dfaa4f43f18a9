// The deep scan: ignores the file system, reads the drive in large blocks,
// asks the signature database at every sector boundary whether a known file
// type starts there, and carves each file found into
// "<root>My Recovered Mobile Device/Deep Scan/", named by a running number
// and the type's extension. A file ends at its end pattern, at its fixed
// size, at the next start, at 4 GiB, or where the drive stops being readable;
// the scan goes on past unreadable sectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wintypes.h"
#include "wizard/DeepScanHost.h"

struct ISupportedFileTypes;

namespace wizard {

// The read buffer: one more byte than the largest block, which the
// signature operations see whole.
constexpr std::int32_t DeepScanBufferSize = 2048001;
constexpr std::int32_t DeepScanMaxBlockBytes = 2048000;
// A file reaching this size ends (at exactly this size).
constexpr std::int64_t DeepScanMaxFileBytes = 4294967296LL;

// The folder below the destination root that receives the carved files.
std::string DeepScanFolder(const std::string& destinationRoot);

// The number in "0000#" form: at least five digits, more as needed.
std::string FormatFileNumber(std::int64_t number);

// The name of a carved file: number, ".", extension. The extension comes as
// the database holds it (three characters, space-padded): the padding is
// dropped, as the Windows file system did, and a character that cannot be
// in a file name is replaced.
std::string CarvedFileName(std::int64_t number, const std::string& extension);

// The progress value for a sector: its percentage of the drive, rounded
// half to even, but never above the bar's maximum.
std::int32_t DeepScanProgress(std::int32_t scanSector, std::int32_t endSector, std::int32_t barMaximum);

// The largest block a read may ask for: what fits the buffer, and what a
// 16-bit sector count can say. 0 when the sector size is unusable.
std::int32_t MaxSectorsAtOnce(std::int32_t bytesPerSector);

// How the last scan ended.
enum class DeepScanEnd {
    Completed,             // the end of the drive was reached
    Stopped,               // Stop was requested
    ReadFailure,           // completed, but some sectors could not be read
    FirstSectorUnreadable, // no sector could be read (or the geometry was unusable)
    WriteFailure,          // a write or close of a carved file failed
    RunTimeError,          // shown as a run-time error message
};

struct DeepScanOutcome {
    DeepScanEnd end = DeepScanEnd::Completed;
    std::int32_t found = 0;        // files found (the result of Run)
    std::int64_t bytesWritten = 0; // bytes of all carved files that reached the disk
    std::int64_t readErrors = 0;   // failed reads (ReadErrors)
    std::int64_t unreadableSectors = 0; // sectors whose bytes could not be read
    std::int64_t skippedSectors = 0;    // of those, the ones skipped without a try
    std::int32_t incompleteFiles = 0;   // cut by an unreadable sector, Stop or an error
    std::int32_t filesCutAtUnreadableSectors = 0; // of those, the ones cut by an unreadable sector
    std::int32_t filesNotWritten = 0;   // not written whole to the destination
    std::int32_t filesNamed = 0;        // given their names, folders and dates from the card
    std::int32_t filesAlreadySaved = 0; // the turbo scan's copies: not kept twice, not in found
    std::int32_t photosRepaired = 0;    // photos in pieces put back together
    std::int32_t photosNotWhole = 0;    // photos whose data breaks off (also in incompleteFiles)
};

class DeepScan {
public:
    // Each scan reads into a few blocks of DeepScanBufferSize bytes of its own.
    DeepScan();

    // Runs the whole scan on the host's drive and returns the number of files
    // found (carved or, when the user declined to replace a file, skipped).
    // types is the signature database to use; null means the process-wide
    // one (engine::FileTypes(), loaded by LoadFileTypeData if it is not yet).
    // Run-time errors are shown and end the scan; nothing is thrown to the
    // caller.
    std::int32_t Run(DeepScanHost& host, ISupportedFileTypes* types = nullptr);

    // How the last Run ended, with its counters.
    const DeepScanOutcome& LastOutcome() const { return outcome_; }

private:
    DeepScanOutcome outcome_;
};

} // namespace wizard
