// The record of a recovery run: "My Recovered Mobile Device/report.xml" in
// Digital Forensics XML (DFXML 2.0), as PhotoRec and fiwalk write it. It
// names the source and its FAT layout, the program, the run's start, end and
// counts, and one fileobject per saved file: where it came from on the card
// (original path, deleted or not, entry times, byte runs; for a carved file
// the carve's start and type), its size and its SHA-256.
//
// The report is written as the run goes, each time whole: the new version is
// written beside the old one and renamed over it, so that the report on disk
// is always the last complete version, and a stopped or crashed run leaves a
// well-formed report of what it saved up to a moment before (its run element
// then says "running"). While files come quickly, it is rewritten at most
// twice a second; Finish writes the last version.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/BootSector.h"
#include "engine/SavedFATFile.h"
#include "wizard/DeepScanHost.h"

namespace wizard {

// What was read: the device or image file, where the volume starts in it
// and its size, and the layout its boot sector gave (Usable false: none).
struct ReportSource {
    std::string Path;
    std::uint64_t VolumeOffset = 0;
    std::uint64_t VolumeBytes = 0;
    std::int32_t SectorSize = 0;
    engine::VolumeLayout Layout;
};

// A file the deep scan carved: its path, the bytes written, where the carve
// started on the volume, the type whose start pattern matched, and whether
// it came to its end.
struct CarvedFileReport {
    std::string Path;
    std::int64_t Bytes = 0;
    std::int64_t StartOffset = 0;
    std::string Type;
    bool Complete = true;
    std::string Sha256;  // of the bytes written; "" when unknown
    std::string EndRule; // what told where it ends ("format structure", ...); "" when unknown
    // Given its name from an entry found on the card after the pass (Named):
    // the entry's path on the card, deleted or not, its write time, and
    // whether a folder on the path had lost its name.
    bool Named = false;
    CarvedFileNamed Name;
    // Where its bytes lie when it was put together from pieces; empty: one
    // run of Bytes from StartOffset.
    std::vector<engine::VolumeByteRun> Runs;
};

// CompletedWithErrors: the scans ran to their end, but files were cut short
// by sectors that could not be read.
enum class RunState { Running, Completed, CompletedWithErrors, Stopped, Failed };

class RecoveryReport {
public:
    RecoveryReport() = default;
    RecoveryReport(const RecoveryReport&) = delete;
    RecoveryReport& operator=(const RecoveryReport&) = delete;

    // Starts the report in recoveredFolder (".../My Recovered Mobile Device/")
    // as report.xml, or beside an earlier one as "report (2).xml" and so on;
    // extraPath (may be empty) receives the same report as a new file (a
    // name that exists is refused). Neither ever replaces a file. False,
    // with *error, when a report cannot be created.
    bool Open(const std::string& recoveredFolder, const std::string& extraPath, const ReportSource& source,
              const std::string& commandLine, std::string* error);
    // The report in the recovered folder (empty before Open).
    const std::string& Path() const { return path_; }

    void SetFilesFound(std::int64_t count);
    void AddSavedFATFile(const engine::SavedFATFile& file);
    void AddCarvedFile(const CarvedFileReport& file);
    // A carved file listed before took its name from the card: its entry
    // now names the new path, the original path and the entry's time.
    void CarvedFileNamed(const wizard::CarvedFileNamed& named);
    // A carved file listed before was the turbo scan's copy byte for byte
    // and was removed: it is listed with that copy instead, and counted once.
    void CarvedFileAlreadySaved(const std::string& carvedPath, const std::string& turboPath);
    // A carved file added before now holds other bytes: those of runs
    // (a photo put back together, or cut to what is right when not
    // complete). Nothing happens for a path not reported.
    void ReplaceCarvedFile(const std::string& path, const std::vector<engine::VolumeByteRun>& runs,
                           std::int64_t bytes, const std::string& sha256, bool complete);
    // Ends the run with its state and writes the last version. False when
    // it could not be written whole (Failure says why; the file on disk is
    // then the last version that was).
    bool Finish(RunState state);
    // Why the last write failed; "" when it succeeded.
    const std::string& Failure() const { return failure_; }

private:
    bool CreateOutputs(const std::string& extraPath, std::string* error);
    void Append(const std::string& xml);
    std::string Tail() const;
    void Save(bool now);
    std::string SavedAs(const std::string& path) const;
    std::string CarvedFileXml(const CarvedFileReport& file) const;

    std::vector<std::string> outputs_;
    std::string head_;

    // One fileobject each, in the order they came; the carved files' records
    // and the saved files' places by path, for what the step after the
    // deep scan's pass changes.
    std::vector<std::string> objects_;
    std::map<std::string, std::size_t> savedAt_;
    std::map<std::string, std::pair<std::size_t, CarvedFileReport>> carvedAt_;
    std::string failure_;
    std::chrono::steady_clock::time_point lastSave_;
    std::string path_;
    std::string recoveredFolder_;
    std::uint64_t volumeOffset_ = 0;
    RunState state_ = RunState::Running;
    std::int64_t filesFound_ = 0, turboSaved_ = 0, carved_ = 0, incomplete_ = 0, named_ = 0,
                 alsoCarved_ = 0;
};

// The folder of a run's results and its report, below the destination root
// (which ends in "/").
std::string RecoveredFolder(const std::string& destinationRoot);

// Text made fit for XML: & < > " escaped, control characters and bytes that
// are not UTF-8 replaced by U+FFFD (names on a damaged card are anything).
std::string XmlText(const std::string& text);
// A FAT date and time as an xs:dateTime ("2024-05-01T12:30:02"), empty when
// the date is not a real one; hundredths of the creation time may be added.
std::string FatDateTime(std::uint16_t date, std::uint16_t time, int hundredths = 0);

} // namespace wizard
