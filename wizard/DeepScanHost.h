// What the deep scan needs from the window that runs it: its inputs, the
// counters and texts it keeps up to date, and the Stop flag. The recovery
// wizard implements it over its controls; tranquo-cli over the console.
// The scan's messages and its one question come here too; by default they go
// to the user-interface services (platform::MsgBox). Pending events run
// through platform::DoEvents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/BootSector.h"
#include "engine/RawDevice.h"

namespace wizard {

// How a carved file came to its end.
enum class CarvedFileEnd {
    Complete,              // by its end rule, the next start, 4 GiB or the drive's end
    CutAtUnreadableSector, // the drive could not be read on: the file is incomplete
    CutByStop,             // Stop came while it was being carved: incomplete
    CutByError,            // a run-time error ended the scan: incomplete
    NotWrittenWhole,       // the destination did not take all its bytes
    BrokenOff,             // its data breaks off and the rest was not found: saved as far as it is right
};

// Bytes of the drive, from a byte offset of the drive's first sector.
struct DriveRun {
    std::int64_t offset = 0;
    std::int64_t length = 0;
    std::int64_t End() const { return offset + length; }
};

// What told where a carved file ends.
enum class CarvedEndRule {
    Structure,  // its own structure (boxes, chunks, frames...), to the exact byte
    EndPattern, // its type's end pattern
    FixedSize,  // its type's fixed size
    NextStart,  // the next file's start
    SizeLimit,  // the 4 GiB a carved file may have
    DriveEnd,   // the drive's end
    CutShort,   // an unreadable sector, Stop or an error (see CarvedFileEnd)
    EntrySize,  // the size its entry on the card gives (copied after the pass)
};

// The report's words for it: "format structure", "end pattern", ...
const char* CarvedEndRuleName(CarvedEndRule rule);

// What the run knows of the card before the deep scan: the layout its boot
// sector gave (Usable false: none) and the standard-name lists that give
// deleted short names their first letter. The scan finds the card's folders
// with it, to give carved files back their names.
struct DeepScanCard {
    engine::VolumeLayout layout;
    std::vector<std::string> standardDirNames;
    std::vector<std::string> standardFileNames;
};

// A file the turbo scan saved whole in this run: where its data starts on
// the drive, its length and its SHA-256. A carved file with the same three
// is the same file, and is not kept twice.
struct TurboScanCopy {
    std::string path;
    std::int64_t startOffset = 0;
    std::int64_t bytes = 0;
    std::string sha256;
};

// A carved file that took its name, folder and date from an entry found on
// the card after the pass.
struct CarvedFileNamed {
    std::string oldPath;          // its numbered name
    std::string newPath;          // in the card's folders below the Deep Scan folder
    std::string cardPath;         // the entry's path as the card has it
    bool deleted = false;         // the entry was marked deleted
    bool folderNameLost = false;  // a folder on its path is named after its first cluster
    std::int64_t bytes = 0;       // on the disk, after it was cut to the entry's size
    std::string sha256;           // of those bytes ("" when unknown)
    // The entry's write time (FAT date and time); exFAT adds 10 ms steps
    // and the offset from UTC (bit 7: given).
    std::uint16_t writeDate = 0, writeTime = 0;
    std::uint8_t writeTime10ms = 0, writeUtcOffset = 0;
};

class DeepScanHost {
public:
    virtual ~DeepScanHost() = default;

    // Inputs, read once when the scan starts (RetryLimit: at each failed read).
    virtual engine::DriveNumber Drive() = 0;
    // BytesPerSector is the sector size; TotalSectors is where the scan stops.
    virtual engine::DriveGeometry Geometry() = 0;
    // First sector scanned: the DeepScanStart() of the layout that the
    // boot-sector parse of this drive gave (0 when there was none).
    virtual std::int32_t FirstDataSector() = 0;
    virtual std::int32_t SectorsAtOnce() = 0;
    // Read attempts for a failing block.
    virtual std::int32_t RetryLimit() = 0;
    // Put before the number of every carved file's name (may be empty).
    virtual std::string FilenamePrefix() = 0;
    // The destination root, ending in "/".
    virtual std::string DestinationRoot() = 0;
    // Upper bound of the progress value.
    virtual std::int32_t BarMaximum() = 0;
    // Entry n (1 to 86) of the [RecoveryWizard] texts.
    virtual std::string WizardText(int n) = 0;
    // The running total of files found in this run, as shown (both stages).
    virtual std::int64_t FilesFoundShown() = 0;

    // The window's look while the scan runs: Start disabled, Stop enabled,
    // the drive list disabled.
    virtual void EnterScanningLook() = 0;
    // After a run-time error: the way back (Back) is enabled again.
    virtual void EnableBack() = 0;

    // Outputs.
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowFilesFound(std::int64_t total) = 0;   // both stages
    virtual void ShowImagesFound(std::int64_t carved) = 0; // this scan
    virtual void ShowReadErrors(std::int64_t errors) = 0;
    // The file being carved or just finished; "" clears it.
    virtual void ShowCurrentFile(const std::string& name) = 0;
    virtual void ShowProgress(std::int32_t value) = 0;
    // With each progress value: the sectors scanned of those to scan, for
    // the speed and the time left.
    virtual void ShowSectorsScanned(std::int64_t done, std::int64_t total) { (void)done, (void)total; }
    // Called once per carved file when it is closed: its path, the bytes
    // that reached the disk, and how it ended. The window ignores it, the
    // console lists the file.
    virtual void FileCarved(const std::string& path, std::int64_t bytes, CarvedFileEnd how) {
        (void)path, (void)bytes, (void)how;
    }
    // Between FileCarved and FileCarvedFrom: the SHA-256 of the bytes written
    // ("" when unknown).
    virtual void FileCarvedDigest(const std::string& path, const std::string& sha256) { (void)path, (void)sha256; }
    // Between FileCarvedDigest and FileCarvedFrom: what told where it ends.
    virtual void FileCarvedEndRule(const std::string& path, CarvedEndRule rule) { (void)path, (void)rule; }
    // Right after FileCarved: where on the drive the carve started (in bytes
    // from the drive's first sector) and the extension of the type that
    // matched there. For a record of the run.
    virtual void FileCarvedFrom(const std::string& path, std::int64_t startOffset, const std::string& extension) {
        (void)path, (void)startOffset, (void)extension;
    }

    // What is known of the card (default: nothing; carved files keep their
    // numbered names).
    virtual DeepScanCard Card() { return {}; }
    // The files the turbo scan saved whole in this run.
    virtual std::vector<TurboScanCopy> TurboScanCopies() { return {}; }
    // After the pass: a carved file took its name from the card.
    virtual void FileNamed(const CarvedFileNamed& named) { (void)named; }
    // After the pass: a carved file was the turbo scan's copy byte for byte,
    // and was removed; the turbo scan's copy stands for it.
    virtual void FileAlreadySaved(const std::string& carvedPath, const TurboScanCopy& copy) {
        (void)carvedPath, (void)copy;
    }
    // After the pass: a carved photo whose data broke off was put back
    // together from these runs of the drive (whole), or could not be and
    // was cut to what is right (not whole). The file at path now holds
    // those bytes; it replaces what FileCarved reported there.
    virtual void FileRepaired(const std::string& path, const std::vector<DriveRun>& runs, std::int64_t bytes,
                              const std::string& sha256, bool whole) {
        (void)path, (void)runs, (void)bytes, (void)sha256, (void)whole;
    }

    // A message of the scan: its text, the message-box style (icon and
    // buttons, platform::vb...) and its title.
    virtual void ShowMessage(const std::string& text, int style, const std::string& title);
    // The scan's one question: replace an existing file (asked only when no
    // number is left for a name). No, the default, keeps it.
    virtual bool AskToReplace(const std::string& text, const std::string& title);

    // Set by Stop; the scan clears it when it starts and tests it before
    // every sector.
    virtual bool StopRequested() = 0;
    virtual void SetStopRequested(bool value) = 0;
};

} // namespace wizard
