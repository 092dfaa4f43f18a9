#include "wizard/DeepScan.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

#include "Typhex.h"
#include "engine/FileTypeTable.h"
#include "engine/RawDevice.h"
#include "platform/com.h"
#include "platform/oleauto.h"
#include "platform/ui.h"
#include "support/RuntimeError.h"
#include "wizard/CardNameFinder.h"
#include "wizard/CarvedFile.h"
#include "wizard/CarvedFileNaming.h"
#include "wizard/CarvedPhotoRepair.h"
#include "wizard/FolderLayout.h"
#include "wizard/CarvedFileWriter.h"
#include "wizard/EntryDataCopier.h"
#include "wizard/Carver.h"
#include "wizard/ScanBlocks.h"
#include "wizard/SectorSource.h"
#include "wizard/WizardState.h"

namespace wizard {

namespace {

// Numbers of the texts of [RecoveryWizard] the scan uses.
constexpr int TextRunTimeError = 15;
constexpr int TextFileNotFound = 23;
constexpr int TextDeviceUnavailableBefore = 24;
constexpr int TextDeviceUnavailableAfter = 25;
constexpr int TextPathNotFound = 26;
constexpr int TextTitle = 27;
constexpr int TextScanning = 33;
constexpr int TextFirstSectorUnreadable = 43;
constexpr int TextWriteFailedAtStart = 44;
constexpr int TextReplaceBefore = 45;
constexpr int TextReplaceAfter = 46;
constexpr int TextWriteFailedAtEnd = 47;

constexpr long ErrDeviceUnavailable = 68;
constexpr int EventInterval = 16;
// Blocks read but not yet written and hashed, with the one being examined:
// enough for the writer's and the hash's threads to fall behind by a few
// files while the scan reads on (16 MiB; four gave 8 % longer runs).
constexpr std::size_t BlocksInFlight = 8;
// Files closed behind the scan and not yet reported.
constexpr std::size_t FilesBehind = 4;

// One scan: the loop over what the sector source reads, the carver's
// decisions carried out with the writer, and the messages.
class ScanRun : public SectorReadEvents {
public:
    ScanRun(DeepScanHost& host, ISupportedFileTypes* types)
        : host_(host), types_(types), blocks_(DeepScanBufferSize, BlocksInFlight) {}
    ScanRun(const ScanRun&) = delete;
    ScanRun& operator=(const ScanRun&) = delete;

    DeepScanOutcome Run();

private:
    void Start();
    void ReadInputs();
    void OpenDestination();
    void MainLoop();
    bool CanRead();
    void TakeFreeBlock();
    void ScanSectors(const SectorRun& run, std::int32_t sectorBytes);
    void ScanSector();
    void Apply(const CarveDecision& decision);
    bool GoBack(const CarveDecision& decision);
    bool ReadAgainFrom(std::int64_t sector);
    void StartFile();
    void EndFile(const FileEnd& end, int failureText);
    void EndOfBlock();
    void LoseSectors(const SectorRun& run);
    void Finish();
    void AfterThePass();
    void RepairPhotos();
    void Count(const NamingCounts& counts);
    void SetEnd();
    DeepScanOutcome Outcome() const;
    void ShowRunTimeError(const support::RuntimeError& error);
    std::string RunTimeErrorText(const support::RuntimeError& error);

    void WritePending(int failureText);
    bool SettleWrites();
    void CloseFile(CarvedFileEnd how);
    void ReportClosed(std::size_t keepAtMost);
    void Report(const CarvedFileWriter::Closed& closed, CarvedFileEnd how);
    void ShowProgress();
    void CountSectorForEvents();
    void LetEventsRun();
    bool WriterOpen() const { return writer_ && writer_->IsOpen(); }
    bool Stopping() { return abort_ || host_.StopRequested(); }

    // SectorReadEvents
    std::int32_t RetryLimit() override { return host_.RetryLimit(); }
    void ReadFailed(std::int64_t failedReads) override;
    bool StopRequested() override { return Stopping(); }

    DeepScanHost& host_;
    ISupportedFileTypes* types_;
    // Before the writer: the blocks go back to the pool when its threads
    // are done with them.
    ScanBlocks blocks_;
    std::shared_ptr<ScanBlock> block_; // the one read last
    std::optional<SectorSource> source_;
    std::optional<Carver> carver_;
    std::optional<CarvedFileWriter> writer_;
    std::optional<CardNameFinder> names_; // what the card's folders say, gathered during the pass
    std::string folder_;                  // the Deep Scan folder

    // Inputs.
    engine::DriveNumber drive_ = 0;
    std::int32_t bytesPerSector_ = 0;
    std::int32_t endSector_ = 0;
    std::int32_t firstDataSector_ = 0;
    std::int32_t sectorsAtOnce_ = 1;
    std::int32_t barMaximum_ = 100;

    // Position: the sector being examined, where it lies in the buffer, and
    // how many of its bytes the drive holds (less only in a partial last
    // sector).
    std::int64_t scanSector_ = 0;
    std::int64_t blockFirst_ = 0;
    std::int32_t bytePosition_ = 0;
    std::int32_t sectorBytes_ = 0;
    int sinceEvents_ = 0;
    std::int64_t revisitBudget_ = 0; // sectors that may be examined a second time

    // The file being written: its bytes not yet written lie in the buffer.
    std::int32_t pendingStart_ = 0;
    std::int64_t pendingBytes_ = 0;
    std::int64_t carveStart_ = 0; // the drive byte of its first sector
    std::string carveType_;       // the extension that matched there
    CarvedEndRule endRule_ = CarvedEndRule::NextStart; // what ended it
    bool abort_ = false;

    // Every file carved and named so far, in the order they were closed.
    std::vector<CarvedFile> carved_;
    // What the scan knew of each file handed to the writer to be closed and
    // not yet reported, oldest first.
    struct Closing {
        CarvedFileEnd how;
        CarvedEndRule rule;
        std::int64_t carveStart;
        std::string type;
    };
    std::deque<Closing> closing_;

    // Counters.
    DeepScanEnd end_ = DeepScanEnd::Completed;
    std::int64_t totalBytesWritten_ = 0;
    std::int32_t found_ = 0;
    std::int64_t totalFound_ = 0;
    std::int32_t incompleteFiles_ = 0;
    std::int32_t filesNotWritten_ = 0;
    std::int32_t filesCut_ = 0;
    NamingCounts naming_;
    PhotoRepairCounts photos_;
};

DeepScanOutcome ScanRun::Run() {
    try {
        Start();
        MainLoop();
        Finish(); // may still find that the last file was not written whole
        AfterThePass();
        engine::CloseDrive(drive_);
        SetEnd();
    } catch (const support::RuntimeError& error) {
        end_ = DeepScanEnd::RunTimeError;
        ShowRunTimeError(error);
    }
    return Outcome();
}

void ScanRun::SetEnd() {
    if (end_ == DeepScanEnd::Completed && abort_) end_ = DeepScanEnd::WriteFailure;
    if (end_ == DeepScanEnd::Completed && host_.StopRequested() && scanSector_ < endSector_) {
        end_ = DeepScanEnd::Stopped;
    }
    if (end_ == DeepScanEnd::Completed && source_ && source_->UnreadableSectors() > 0) {
        end_ = source_->AnySectorRead() ? DeepScanEnd::ReadFailure : DeepScanEnd::FirstSectorUnreadable;
    }
}

DeepScanOutcome ScanRun::Outcome() const {
    DeepScanOutcome outcome;
    outcome.end = end_;
    outcome.found = found_;
    outcome.bytesWritten = totalBytesWritten_;
    if (source_) {
        outcome.readErrors = source_->FailedReads();
        outcome.unreadableSectors = source_->UnreadableSectors();
        outcome.skippedSectors = source_->SkippedSectors();
    }
    outcome.incompleteFiles = incompleteFiles_;
    outcome.filesNotWritten = filesNotWritten_;
    outcome.filesCutAtUnreadableSectors = filesCut_;
    outcome.filesNamed = naming_.named;
    outcome.filesAlreadySaved = naming_.alreadySaved;
    outcome.photosRepaired = photos_.repaired;
    outcome.photosNotWhole = photos_.notWhole;
    return outcome;
}

void ScanRun::Start() {
    OpenDestination();
    host_.EnterScanningLook();
    host_.ShowReadErrors(0);
    totalFound_ = std::max<std::int64_t>(0, host_.FilesFoundShown());
    host_.SetStopRequested(false);
    host_.ShowStatus(host_.WizardText(TextScanning));
    host_.ShowCurrentFile("");
    platform::DoEvents();
    ReadInputs();
    if (!types_) {
        engine::LoadFileTypeData(); // raises the run-time error when the database cannot be read
        types_ = engine::FileTypes();
    }
    if (types_) {
        const HRESULT hr = types_->put_SectorSize(bytesPerSector_);
        if (FAILED(hr)) throw support::RuntimeError(hr, "Typhex", "Automation error in SectorSize");
    }
}

// Absolute, since the folder becomes the current directory.
void ScanRun::OpenDestination() {
    std::error_code ignored;
    std::string folder = DeepScanFolder(host_.DestinationRoot());
    const auto absolute = std::filesystem::absolute(folder, ignored);
    if (!ignored) folder = absolute.string();
    folder_ = folder;
    writer_.emplace(folder, host_.FilenamePrefix());
    std::filesystem::current_path(folder, ignored);
}

void ScanRun::ReadInputs() {
    drive_ = host_.Drive();
    const engine::DriveGeometry geometry = host_.Geometry();
    bytesPerSector_ = geometry.BytesPerSector;
    sectorBytes_ = bytesPerSector_;
    endSector_ = geometry.TotalSectors;
    firstDataSector_ = host_.FirstDataSector();
    // A boot sector that puts its data area outside the drive is damaged:
    // scan the whole drive rather than nothing.
    if (firstDataSector_ < 0 || firstDataSector_ >= endSector_) firstDataSector_ = 0;
    scanSector_ = firstDataSector_;
    revisitBudget_ = endSector_ - firstDataSector_;
    barMaximum_ = host_.BarMaximum();
    sectorsAtOnce_ = std::clamp(host_.SectorsAtOnce(), 1, std::max(1, MaxSectorsAtOnce(bytesPerSector_)));
}

void ScanRun::MainLoop() {
    if (!CanRead()) return;
    block_ = blocks_.Take();
    source_.emplace(drive_, bytesPerSector_, SectorRange{firstDataSector_, endSector_}, sectorsAtOnce_,
                    block_->bytes.data(), block_->bytes.size(), *this);
    carver_.emplace(types_, bytesPerSector_, static_cast<std::int64_t>(endSector_) * bytesPerSector_ + bytesPerSector_);
    names_.emplace(host_.Card(), static_cast<std::uint32_t>(bytesPerSector_), endSector_);
    while (!Stopping()) {
        ShowProgress();
        TakeFreeBlock();
        const SectorRun run = source_->Next();
        switch (run.kind) {
        case SectorRunKind::Read: ScanSectors(run, bytesPerSector_); break;
        case SectorRunKind::PartialSector: ScanSectors(run, run.partialBytes); break;
        case SectorRunKind::Unreadable:
        case SectorRunKind::Skipped: LoseSectors(run); break;
        case SectorRunKind::End: return;
        }
    }
}

// False after the message when nothing can be read: a geometry without a
// usable sector size, no database, or a drive that cannot be opened (one
// message that names it and the reason, instead of one at every read).
bool ScanRun::CanRead() {
    if (!types_ || MaxSectorsAtOnce(bytesPerSector_) == 0) {
        host_.ShowMessage(host_.WizardText(TextFirstSectorUnreadable), platform::vbExclamation,
                          host_.WizardText(TextTitle));
        end_ = DeepScanEnd::FirstSectorUnreadable;
        return false;
    }
    std::string openError;
    if (!engine::OpenDriveForReading(drive_, openError)) {
        host_.ShowMessage(openError, platform::vbExclamation, host_.WizardText(TextTitle));
        end_ = DeepScanEnd::FirstSectorUnreadable;
        return false;
    }
    return true;
}

// The next read goes into a block the writer does not hold: the one read
// last comes back through the pool, whose lock orders the threads' last
// reads of a block before the next read into it.
void ScanRun::TakeFreeBlock() {
    block_.reset();
    block_ = blocks_.Take();
    source_->UseBuffer(block_->bytes.data());
}

// Examines the sectors the source read into the buffer. A file that goes on
// into the next read has its bytes written at the end, and continues from
// the start of the buffer there.
void ScanRun::ScanSectors(const SectorRun& run, std::int32_t sectorBytes) {
    blockFirst_ = run.first;
    scanSector_ = run.first;
    pendingStart_ = 0;
    sectorBytes_ = sectorBytes;
    const std::int64_t end = run.first + run.count;
    if (sectorBytes == bytesPerSector_)
        names_->Feed(run.first,
                     std::span<const std::uint8_t>(block_->bytes.data(), run.count * std::size_t(sectorBytes)));
    // A start the scan goes back to lies in the buffer still, or the source
    // reads again from it.
    while (scanSector_ >= blockFirst_ && scanSector_ < end && !Stopping()) {
        bytePosition_ = static_cast<std::int32_t>((scanSector_ - blockFirst_) * bytesPerSector_);
        ScanSector();
    }
    EndOfBlock();
    // Stop takes effect within one read, however few sectors it holds.
    if (sinceEvents_ > 0) LetEventsRun();
    sectorBytes_ = bytesPerSector_;
}

void ScanRun::ScanSector() {
    CountSectorForEvents();
    const SectorView view{&block_->variant, block_->bytes.data(), block_->bytes.size(), bytePosition_, sectorBytes_,
                          scanSector_};
    const CarveDecision decision = carver_->Examine(view);
    if (decision.action == CarveAction::GoBack && GoBack(decision)) return;
    Apply(decision);
    ++scanSector_;
    // A file its structure covered but did not hold is carved now.
    if (decision.readAgainFrom) ReadAgainFrom(*decision.readAgainFrom);
}

void ScanRun::Apply(const CarveDecision& decision) {
    switch (decision.action) {
    case CarveAction::Skip:
        return;
    case CarveAction::EndPreviousAndStart:
        // The file being carved ends with the sector before (or, as its
        // structure says, a little before that).
        if (WriterOpen()) EndFile(decision.previousEnd, TextWriteFailedAtStart);
        StartFile();
        break;
    case CarveAction::Start:
        StartFile();
        break;
    case CarveAction::Continue:
    case CarveAction::End:
    case CarveAction::GoBack:
        break;
    }
    if (!WriterOpen()) return;
    if (decision.endBytes) {
        pendingBytes_ += decision.endBytes->bytes;
        EndFile(*decision.endBytes, TextWriteFailedAtEnd);
    } else {
        pendingBytes_ += sectorBytes_;
    }
}

// A start that the file being carved claimed, where its structure did not
// hold: the file ends before it (as far as its bytes are not yet written)
// and the scan goes on from there. The sectors examined again are budgeted
// (the drive's length over the whole scan): false beyond it.
bool ScanRun::GoBack(const CarveDecision& decision) {
    if (!ReadAgainFrom(decision.goBackTo)) return false;
    if (WriterOpen()) {
        const std::int64_t pendingAt = blockFirst_ * bytesPerSector_ + pendingStart_;
        pendingBytes_ =
            std::clamp<std::int64_t>(decision.goBackTo * bytesPerSector_ - pendingAt, 0, pendingBytes_);
        EndFile(FileEnd{}, TextWriteFailedAtEnd);
    }
    carver_->Drop();
    return true;
}

// Goes on from an earlier sector: from the buffer when it lies in this
// read, else the source reads again from it. The sectors examined again are
// budgeted (the drive's length over the whole scan): false beyond it.
bool ScanRun::ReadAgainFrom(std::int64_t sector) {
    const std::int64_t again = scanSector_ - sector;
    if (again > revisitBudget_) return false;
    if (sector < blockFirst_ && !source_->Rewind(sector)) return false;
    revisitBudget_ -= again;
    scanSector_ = sector;
    return true;
}

void ScanRun::StartFile() {
    ++found_;
    ++totalFound_;
    host_.ShowFilesFound(totalFound_);
    host_.ShowImagesFound(found_);
    if (!writer_->ChooseName(Wizard().NextFileNumber, found_, carver_->Extension()) &&
        !host_.AskToReplace(host_.WizardText(TextReplaceBefore) + " " + writer_->Path() + " " +
                                host_.WizardText(TextReplaceAfter),
                            host_.WizardText(TextTitle))) {
        carver_->Drop(); // the user kept the existing file: counted, not written
        return;
    }
    ReportClosed(FilesBehind);
    writer_->Open();
    pendingStart_ = bytePosition_;
    pendingBytes_ = 0;
    carveStart_ = scanSector_ * bytesPerSector_;
    carveType_ = carver_->Extension();
}

void ScanRun::EndFile(const FileEnd& end, int failureText) {
    // Bytes the structure disowned late are dropped: first from those not
    // yet handed over, then from those the writer holds back.
    const std::int64_t unpend = std::min(end.trim, pendingBytes_);
    pendingBytes_ -= unpend;
    writer_->Trim(end.trim - unpend);
    endRule_ = end.rule;
    if (pendingBytes_ > 0) {
        WritePending(failureText);
        pendingBytes_ = 0;
        ShowProgress();
        LetEventsRun();
    }
    CloseFile(CarvedFileEnd::Complete);
}

// The block's bytes of a file that goes on are written and hashed while the
// next blocks are read and examined. A failure shows at the end of a block
// once the writer has come to it (or when the file is reported), and ends
// the scan there.
void ScanRun::EndOfBlock() {
    if (WriterOpen() && pendingBytes_ >= 1) {
        if (SettleWrites()) WritePending(TextWriteFailedAtEnd);
        pendingBytes_ = 0;
        ShowProgress();
        LetEventsRun();
    }
    ReportClosed(closing_.size());
}

// Sectors that could not be read: the file being carved ends with the last
// sector that was read, and is incomplete.
void ScanRun::LoseSectors(const SectorRun& run) {
    if (run.kind == SectorRunKind::Unreadable && run.first == firstDataSector_) {
        host_.ShowMessage(host_.WizardText(TextFirstSectorUnreadable), platform::vbExclamation,
                          host_.WizardText(TextTitle));
    }
    if (WriterOpen()) {
        EndOfBlock();
        CloseFile(CarvedFileEnd::CutAtUnreadableSector);
    }
    scanSector_ = run.first + run.count;
    // A start the cut file's structure claimed is carved from a second read.
    const std::optional<std::int64_t> hidden = carver_->Cut();
    if (hidden && scanSector_ - *hidden <= revisitBudget_ && source_->Rewind(*hidden)) {
        revisitBudget_ -= scanSector_ - *hidden;
        scanSector_ = *hidden;
    }
}

void ScanRun::Finish() {
    if (WriterOpen()) {
        SettleWrites();
        // Stopped or ended by a failed write before the drive's end: the file
        // may go on beyond.
        const bool early = scanSector_ < endSector_;
        if (early && host_.StopRequested()) {
            CloseFile(CarvedFileEnd::CutByStop);
        } else {
            endRule_ = CarvedEndRule::DriveEnd;
            CloseFile(early && abort_ ? CarvedFileEnd::CutByError : CarvedFileEnd::Complete);
        }
    }
    if (writer_) ReportClosed(0);
}

// The steps that work on what the pass carved, while the drive is still
// open.
void ScanRun::AfterThePass() {
    RepairPhotos();
    if (!names_) return;
    // After a failed write the destination takes no copies either.
    EntryDataCopier copier(types_, drive_, bytesPerSector_, endSector_);
    Count(CarvedFileNaming(folder_, host_).Run(carved_, *names_, abort_ ? nullptr : &copier));
}

// Photos whose data broke off are put back together from their pieces, or
// cut to what is right. Before the names: a photo made whole is named whole.
void ScanRun::RepairPhotos() {
    // A destination that failed a write takes no more files.
    if (!source_ || carved_.empty() || abort_) return;
    PhotoRepairSetup setup;
    setup.drive = drive_;
    setup.driveBytes = static_cast<std::int64_t>(endSector_) * bytesPerSector_;
    const auto clusters = BootSectorClusterLayout(host_.Card().layout, static_cast<std::uint32_t>(bytesPerSector_));
    // Clusters counted from the first sector scanned: the boot sector's data area.
    const std::int64_t sectorsPerCluster =
        clusters && clusters->firstDataSector == firstDataSector_ ? clusters->sectorsPerCluster : 0;
    setup.clusterBytes = (sectorsPerCluster > 0 ? sectorsPerCluster : 1) * bytesPerSector_;
    setup.dataStart = sectorsPerCluster > 0 ? static_cast<std::int64_t>(firstDataSector_) * bytesPerSector_ : 0;
    auto bytesOnDisk = [this] {
        std::int64_t bytes = 0;
        for (const CarvedFile& file : carved_) bytes += file.bytes;
        return bytes;
    };
    const std::int64_t before = bytesOnDisk();
    photos_ = RepairCarvedPhotos(carved_, setup, host_);
    incompleteFiles_ += photos_.notWhole;
    totalBytesWritten_ += bytesOnDisk() - before;
}

// The turbo scan's copies are files already counted: found counts files.
void ScanRun::Count(const NamingCounts& counts) {
    naming_ = counts;
    found_ += counts.copied - counts.alreadySaved;
    totalFound_ += counts.copied - counts.alreadySaved;
    totalBytesWritten_ += counts.bytesCopied - counts.bytesRemoved;
    if (counts.alreadySaved == 0 && counts.copied == 0) return;
    host_.ShowFilesFound(totalFound_);
    host_.ShowImagesFound(found_);
}

void ScanRun::ShowRunTimeError(const support::RuntimeError& error) {
    host_.ShowMessage(RunTimeErrorText(error), platform::vbOKOnly, "");
    host_.EnableBack();
    // What was carved of the open file is kept: its buffered bytes would be
    // lost if it stayed open.
    if (WriterOpen()) CloseFile(CarvedFileEnd::CutByError);
    if (writer_) ReportClosed(0);
    engine::CloseDrive(drive_);
}

std::string ScanRun::RunTimeErrorText(const support::RuntimeError& error) {
    std::string text = host_.WizardText(TextRunTimeError) + " " + std::to_string(error.Number()) + ". ";
    switch (error.Number()) {
    case support::ErrFileNotFound:
        return text + host_.WizardText(TextFileNotFound);
    case ErrDeviceUnavailable:
        return text + host_.WizardText(TextDeviceUnavailableBefore) + " " + std::to_string(drive_) +
               host_.WizardText(TextDeviceUnavailableAfter);
    case support::ErrPathNotFound:
        return text + host_.WizardText(TextPathNotFound);
    default:
        return text + error.Description();
    }
}

void ScanRun::WritePending(int failureText) {
    writer_->Write(block_, block_->bytes.data(), block_->bytes.size(), pendingStart_,
                   static_cast<std::int32_t>(pendingBytes_), failureText);
}

// Whether the bytes of the open file written behind the scan so far reached
// it (without waiting for them); a failure is said with the text of the step
// that handed them over.
bool ScanRun::SettleWrites() {
    const int failureText = writer_->Settle();
    if (failureText == 0) return true;
    if (!abort_) {
        host_.ShowMessage(host_.WizardText(failureText) + " " + writer_->Path(), platform::vbOKOnly,
                          host_.WizardText(TextTitle));
    }
    abort_ = true;
    return false;
}

// Hands the file being carved over to be closed behind the scan; it is
// reported once it is.
void ScanRun::CloseFile(CarvedFileEnd how) {
    writer_->Close();
    closing_.push_back(Closing{how, endRule_, carveStart_, carveType_});
    ReportClosed(closing_.size());
}

// Reports the files closed behind the scan, in the order they were handed
// over, waiting for the oldest until at most keepAtMost are left.
void ScanRun::ReportClosed(std::size_t keepAtMost) {
    while (!closing_.empty()) {
        const std::optional<CarvedFileWriter::Closed> closed =
            writer_->TakeClosed(Wizard().NextFileNumber, closing_.size() > keepAtMost);
        if (!closed) return;
        Report(*closed, closing_.front().how);
        closing_.pop_front();
    }
}

// A file cut short keeps what it has under its name, and the record says it
// is incomplete. A file not written whole ends the scan (the destination is
// full, failing or gone: the next file would fare no better); it is said
// once.
void ScanRun::Report(const CarvedFileWriter::Closed& closed, CarvedFileEnd how) {
    const Closing& file = closing_.front();
    const int failureText = closed.failedTag != 0 ? closed.failedTag : TextWriteFailedAtEnd;
    const bool say = !closed.writeFailed && !abort_;
    if (!closed.named) {
        abort_ = true;
        ++filesNotWritten_;
        if (say) {
            host_.ShowMessage(host_.WizardText(failureText) + " " + closed.path + ": " + closed.why, platform::vbOKOnly,
                              host_.WizardText(TextTitle));
        }
        // Nothing is left under a name, so the record has nothing to list.
        host_.FileCarved(closed.path, 0, CarvedFileEnd::NotWrittenWhole);
        host_.ShowCurrentFile(closed.name);
        return;
    }
    if (!closed.whole) {
        abort_ = true;
        ++filesNotWritten_;
        if (say) {
            host_.ShowMessage(host_.WizardText(failureText) + " " + closed.path, platform::vbOKOnly,
                              host_.WizardText(TextTitle));
        }
        how = CarvedFileEnd::NotWrittenWhole;
    } else if (how != CarvedFileEnd::Complete) {
        ++incompleteFiles_;
        if (how == CarvedFileEnd::CutAtUnreadableSector) ++filesCut_;
    }
    totalBytesWritten_ += closed.bytes;
    const CarvedEndRule rule = how == CarvedFileEnd::Complete ? file.rule : CarvedEndRule::CutShort;
    host_.FileCarved(closed.path, closed.bytes, how);
    host_.FileCarvedDigest(closed.path, closed.sha256);
    host_.FileCarvedEndRule(closed.path, rule);
    host_.FileCarvedFrom(closed.path, file.carveStart, file.type);
    host_.ShowCurrentFile(closed.name);
    carved_.push_back(CarvedFile{closed.path, file.carveStart, closed.bytes, file.type, how, rule, closed.sha256});
}

void ScanRun::ShowProgress() {
    const auto sector = static_cast<std::int32_t>(std::min<std::int64_t>(scanSector_, endSector_));
    host_.ShowProgress(DeepScanProgress(sector, endSector_, barMaximum_));
    host_.ShowSectorsScanned(std::max<std::int64_t>(0, sector - firstDataSector_), endSector_ - firstDataSector_);
}

void ScanRun::CountSectorForEvents() {
    if (++sinceEvents_ == EventInterval) LetEventsRun();
}

void ScanRun::LetEventsRun() {
    platform::DoEvents();
    sinceEvents_ = 0;
}

void ScanRun::ReadFailed(std::int64_t failedReads) {
    host_.ShowReadErrors(failedReads);
    LetEventsRun();
}

} // namespace

std::string DeepScanFolder(const std::string& destinationRoot) {
    return destinationRoot + "My Recovered Mobile Device/Deep Scan/";
}

std::string FormatFileNumber(std::int64_t number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    return number < 0 ? "-" + digits : digits;
}

std::string CarvedFileName(std::int64_t number, const std::string& extension) {
    std::string ext = extension;
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    for (char& c : ext) {
        if (c == '/' || c == '\0' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    return FormatFileNumber(number) + "." + ext;
}

std::int32_t DeepScanProgress(std::int32_t scanSector, std::int32_t endSector, std::int32_t barMaximum) {
    if (endSector == 0) return 0;
    const double percentage = std::nearbyint(static_cast<double>(scanSector) / endSector * 100.0);
    return percentage > barMaximum ? barMaximum : static_cast<std::int32_t>(percentage);
}

std::int32_t MaxSectorsAtOnce(std::int32_t bytesPerSector) {
    if (bytesPerSector <= 0 || bytesPerSector > DeepScanMaxBlockBytes) return 0;
    return std::min<std::int32_t>(DeepScanMaxBlockBytes / bytesPerSector, std::numeric_limits<std::int16_t>::max());
}

DeepScan::DeepScan() = default;

std::int32_t DeepScan::Run(DeepScanHost& host, ISupportedFileTypes* types) {
    ISupportedFileTypes* database = types ? types : engine::FileTypes();
    ScanRun run(host, database);
    outcome_ = run.Run();
    return outcome_.found;
}

} // namespace wizard
