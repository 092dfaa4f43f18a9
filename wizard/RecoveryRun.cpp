#include "wizard/RecoveryRun.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <system_error>

#include "engine/BootSector.h"
#include "engine/FATEngine.h"
#include "engine/FileTypeTable.h"
#include "engine/SameStorage.h"
#include "platform/drives.h"
#include "platform/fileapi.h"
#include "platform/ui.h"
#include "shell/DesktopTexts.h"
#include "shell/DestinationFolder.h"
#include "support/DriveAccess.h"
#include "wizard/DriveList.h"

namespace wizard {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The engine raises this when it is stopped during the directory walk.
constexpr long ErrStoppedDuringWalk = 70;

} // namespace

// The deep scan's inputs come from the run, its progress goes to the view.
class RecoveryRun::DeepScanAdapter : public DeepScanHost {
public:
    DeepScanAdapter(RecoveryRun& run, std::int32_t firstDataSector) : run_(run), firstDataSector_(firstDataSector) {}

    engine::DriveNumber Drive() override { return run_.drive_; }
    engine::DriveGeometry Geometry() override { return run_.geometry_; }
    std::int32_t FirstDataSector() override { return firstDataSector_; }
    std::int32_t SectorsAtOnce() override {
        return run_.request_.sectorsAtOnce > 0 ? run_.request_.sectorsAtOnce : ProposedSectorsAtOnce(run_.geometry_);
    }
    std::int32_t RetryLimit() override { return std::max(1, run_.request_.retries); }
    std::string FilenamePrefix() override { return run_.request_.prefix; }
    std::string DestinationRoot() override { return run_.outcome_.root; }
    std::int32_t BarMaximum() override { return run_.view_.BarMaximum(); }
    std::string WizardText(int n) override { return run_.texts_(n); }
    std::int64_t FilesFoundShown() override { return run_.outcome_.turbo.found; }

    void EnterScanningLook() override {}
    void EnableBack() override {}
    void ShowStatus(const std::string& text) override { run_.view_.ShowStatus(text); }
    void ShowFilesFound(std::int64_t total) override { run_.view_.ShowFilesFound(total); }
    void ShowImagesFound(std::int64_t carved) override { run_.view_.ShowImagesFound(carved); }
    void ShowReadErrors(std::int64_t errors) override {
        run_.view_.ShowReadErrors(errors);
        if (pace_) pace_->NoteReadErrors(errors, ScanPace::Clock::now());
    }
    void ShowCurrentFile(const std::string& name) override { run_.view_.ShowCurrentFile(name); }
    void ShowProgress(std::int32_t value) override { run_.view_.ShowProgress(value); }
    void ShowSectorsScanned(std::int64_t done, std::int64_t total) override {
        const auto now = ScanPace::Clock::now();
        const std::int64_t sectorBytes = run_.geometry_.BytesPerSector;
        if (!pace_) pace_.emplace(total * sectorBytes, now);
        pace_->Advance(done * sectorBytes, now);
        run_.view_.ShowDeepScanPace(pace_->Reading(now));
    }
    void FileCarved(const std::string& path, std::int64_t bytes, CarvedFileEnd how) override {
        lastBytes_ = bytes;
        lastHow_ = how;
        if (how == CarvedFileEnd::Complete) ++run_.outcome_.deepSavedWhole;
        run_.view_.FileCarved(path, bytes, how);
    }
    void FileCarvedDigest(const std::string&, const std::string& sha256) override { lastDigest_ = sha256; }
    void FileCarvedEndRule(const std::string&, CarvedEndRule rule) override { lastEndRule_ = CarvedEndRuleName(rule); }
    // Follows FileCarved for the same file.
    void FileCarvedFrom(const std::string& path, std::int64_t startOffset, const std::string& extension) override {
        if (!run_.report_) return;
        CarvedFileReport file;
        file.Path = path;
        file.Bytes = lastBytes_;
        file.StartOffset = startOffset;
        file.Type = extension;
        file.Complete = lastHow_ == CarvedFileEnd::Complete;
        file.Sha256 = std::exchange(lastDigest_, std::string());
        file.EndRule = std::exchange(lastEndRule_, std::string());
        run_.report_->AddCarvedFile(file);
    }
    DeepScanCard Card() override { return run_.card_; }
    std::vector<TurboScanCopy> TurboScanCopies() override { return run_.turboCopies_; }
    void FileNamed(const CarvedFileNamed& named) override {
        if (run_.report_) run_.report_->CarvedFileNamed(named);
        run_.view_.FileNamed(named);
    }
    // The carved copy was counted whole when it was closed; the file is the
    // turbo scan's, counted there.
    void FileAlreadySaved(const std::string& carvedPath, const TurboScanCopy& copy) override {
        if (run_.outcome_.deepSavedWhole > 0) --run_.outcome_.deepSavedWhole;
        if (run_.report_) run_.report_->CarvedFileAlreadySaved(carvedPath, copy.path);
        run_.view_.FileAlreadySaved(carvedPath, copy.path);
    }
    // A photo is looked at only when it was carved whole, and counted so.
    void FileRepaired(const std::string& path, const std::vector<DriveRun>& runs, std::int64_t bytes,
                      const std::string& sha256, bool whole) override {
        if (whole) {
            run_.view_.PhotoPutBackTogether(path, bytes, runs.size());
        } else {
            if (run_.outcome_.deepSavedWhole > 0) --run_.outcome_.deepSavedWhole;
            run_.view_.FileCarved(path, bytes, CarvedFileEnd::BrokenOff);
        }
        if (!run_.report_) return;
        std::vector<engine::VolumeByteRun> volumeRuns;
        for (const DriveRun& run : runs) volumeRuns.push_back({run.offset, run.length});
        run_.report_->ReplaceCarvedFile(path, volumeRuns, bytes, sha256, whole);
    }
    void ShowMessage(const std::string& text, int style, const std::string& title) override {
        run_.view_.ShowDeepScanMessage(text, style, title);
    }
    bool AskToReplace(const std::string& text, const std::string& title) override {
        return run_.view_.AskToReplaceCarvedFile(text, title);
    }
    bool StopRequested() override { return run_.deepStopRequested_; }
    void SetStopRequested(bool value) override { run_.deepStopRequested_ = value; }

private:
    RecoveryRun& run_;
    std::int32_t firstDataSector_;
    std::int64_t lastBytes_ = 0;
    CarvedFileEnd lastHow_ = CarvedFileEnd::Complete;
    std::string lastDigest_;
    std::string lastEndRule_;
    std::optional<ScanPace> pace_; // from the first position the scan reports
};

void RecoveryView::ShowDestinationFull(const std::string& text, const std::string& title) {
    platform::MsgBox(text, platform::vbExclamation, title);
}

void RecoveryView::ShowRunTimeError(const support::RuntimeError&, const std::string& message,
                                    const std::string& title) {
    platform::MsgBox(message, platform::vbCritical, title);
}

void RecoveryView::ShowRefusal(RunRefusal, const std::string& reason, const std::string& title) {
    platform::MsgBox(reason, platform::vbExclamation, title);
}

void RecoveryView::ShowTurboScanError(const support::RuntimeError& error) {
    platform::MsgBox(error.Description(), platform::vbOKOnly, "");
}

void RecoveryView::ShowDeepScanMessage(const std::string& text, int style, const std::string& title) {
    platform::MsgBox(text, style, title);
}

bool RecoveryView::AskToReplaceCarvedFile(const std::string& text, const std::string& title) {
    return platform::MsgBox(text, platform::vbYesNo | platform::vbDefaultButton2, title) == platform::IDYES;
}

void RecoveryView::ShowReportFailure(const std::string& reason) {
    platform::MsgBox(reason, platform::vbExclamation, "");
}

RecoveryRun::RecoveryRun(RecoveryRequest request, const WizardTexts& texts, RecoveryView& view)
    : request_(std::move(request)), texts_(texts), view_(view) {}

RecoveryRun::~RecoveryRun() = default;

RecoveryOutcome RecoveryRun::Run() {
    outcome_ = RecoveryOutcome{};
    card_ = DeepScanCard{};
    turboCopies_.clear();
    turboScanCancelled_ = false;
    deepStopRequested_ = false;
    report_.reset();
    drive_ = engine::DriveNumberFromLetter(request_.letter);
    if (CheckReportCopy() && CheckDrive() && ChooseDestination()) {
        try {
            engine::LoadFileTypeData();
            const engine::VolumeLayout probed = ProbeLayout();
            if (OpenReport(probed)) RunStages(probed);
        } catch (const support::RuntimeError& error) {
            // Outside the stages: the database, the destination.
            outcome_.refusal = RunRefusal::RunTimeError;
            outcome_.failure = error.Description();
            view_.ShowRunTimeError(error,
                                   texts_(text::RunTimeError) + " " + std::to_string(error.Number()) + ". " +
                                       error.Description(),
                                   texts_(text::WizardTitle));
        }
    }
    turboScanRunning_ = false;
    if (report_) {
        if (!report_->Finish(ReportState())) {
            outcome_.reportFailure = report_->Failure();
            view_.ShowReportFailure(outcome_.reportFailure);
        }
        outcome_.reportPath = report_->Path();
        report_.reset();
    }
    Enter(RunStage::Idle);
    return outcome_;
}

// The layout this card's boot sector gives, if it gives a usable one: for
// the report, and for where a deep scan alone starts. A boot sector that
// cannot be parsed leaves the layout unusable; the scans still run.
engine::VolumeLayout RecoveryRun::ProbeLayout() {
    engine::FATEngine probe;
    try {
        probe.ReadDeviceBootSector(drive_);
    } catch (const support::RuntimeError&) {
        KeepCard(probe);
        card_.layout = engine::VolumeLayout{};
        return card_.layout;
    }
    KeepCard(probe);
    return probe.Layout();
}

void RecoveryRun::KeepCard(const engine::FATEngine& engine) {
    card_.layout = engine.Layout();
    card_.standardDirNames = engine.StandardDirNames();
    card_.standardFileNames = engine.StandardFileNames();
}

// The report is started before anything is read or written, so that a
// run whose record cannot be kept is refused before it begins.
bool RecoveryRun::OpenReport(const engine::VolumeLayout& layout) {
    platform::DriveInfo info;
    platform::FindDrive(request_.letter, &info);
    ReportSource source;
    source.Path = info.source;
    source.VolumeOffset = info.offset;
    source.VolumeBytes = info.length;
    source.SectorSize = geometry_.BytesPerSector;
    source.Layout = layout;
    auto report = std::make_unique<RecoveryReport>();
    std::string error;
    if (!report->Open(RecoveredFolder(outcome_.root), request_.reportPath, source, request_.commandLine, &error)) {
        outcome_.refusal = RunRefusal::ReportNotCreated;
        outcome_.failure = error;
        view_.ShowRefusal(outcome_.refusal, error, texts_(text::WizardTitle));
        return false;
    }
    report_ = std::move(report);
    return true;
}

// How the run ended, for its report: stopped in either stage, failed when
// a stage failed or a file did not reach the destination whole, completed
// with errors when carved files were cut by unreadable sectors, else
// completed.
RunState RecoveryRun::ReportState() const {
    const TurboScanSummary& turbo = outcome_.turbo;
    const DeepScanOutcome& deep = outcome_.deep;
    if (turbo.end == StageEnd::Stopped || (outcome_.deepScanRan && deep.end == DeepScanEnd::Stopped))
        return RunState::Stopped;
    if (outcome_.refusal != RunRefusal::None || turbo.end == StageEnd::Failed || turbo.errors > 0 ||
        turbo.notWritten > 0 || turbo.incomplete > 0)
        return RunState::Failed;
    if (outcome_.deepScanRan &&
        (deep.end == DeepScanEnd::FirstSectorUnreadable || deep.end == DeepScanEnd::WriteFailure ||
         deep.end == DeepScanEnd::RunTimeError || deep.filesNotWritten > 0))
        return RunState::Failed;
    if (outcome_.deepScanRan && (deep.filesCutAtUnreadableSectors > 0 || deep.photosNotWhole > 0))
        return RunState::CompletedWithErrors;
    return RunState::Completed;
}

namespace {

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
    if (S_ISBLK(first.st_mode) && S_ISBLK(second.st_mode)) return first.st_rdev == second.st_rdev;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Why the report's extra copy cannot go to path; "" when it can. Only a new
// file will do: whatever has the name (an earlier report, the card image,
// a device) is kept as it is.
std::string ReportCopyProblem(const std::string& path, const std::string& source) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        const std::string why = SameFile(path, source)           ? " is the drive being read"
                                : !S_ISREG(info.st_mode)         ? " exists and is not a regular file"
                                                                 : " exists";
        return "the report's copy " + path + why + "; it is only written to a new file";
    }
    if (errno != ENOENT) return "cannot use " + path + " for the report's copy: " + std::strerror(errno);
    const fs::path folder = fs::absolute(path).parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return "the folder of the report's copy " + path + " does not exist";
    return "";
}

} // namespace

// Before anything is read: the report's copy must be able to go where asked.
bool RecoveryRun::CheckReportCopy() {
    if (request_.reportPath.empty()) return true;
    platform::DriveInfo info;
    platform::FindDrive(request_.letter, &info);
    const std::string problem = ReportCopyProblem(request_.reportPath, info.source);
    if (problem.empty()) return true;
    outcome_.refusal = RunRefusal::ReportCopyRefused;
    outcome_.failure = problem;
    view_.ShowRefusal(outcome_.refusal, problem, texts_(text::WizardTitle));
    return false;
}

// A CD-ROM is refused; a drive without a readable card has nothing to scan.
bool RecoveryRun::CheckDrive() {
    const std::string root = std::string(1, request_.letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) == DRIVE_CDROM) {
        outcome_.refusal = RunRefusal::CdRom;
        const shell::DesktopTexts words = shell::LoadDesktopTexts(); // the tools window says the same
        platform::MsgBox(words(shell::desktop_text::CdRomRefused), platform::vbCritical,
                         words(shell::desktop_text::CdRomRefusedTitle));
        return false;
    }
    // Once before the run: a drive the user may not read is one message
    // (through udisks2 this is where the desktop asks for the password).
    // The problem names the device, its letter and the system's reason.
    if (const std::string problem = support::DriveAccessProblem(request_.letter, false); !problem.empty()) {
        outcome_.refusal = RunRefusal::DriveAccessRefused;
        outcome_.failure = problem;
        view_.ShowRefusal(outcome_.refusal, problem, texts_(text::WizardTitle));
        return false;
    }
    // The card may have been swapped since the drive was picked: nothing of
    // the last one (its open handle, its geometry) is used again.
    engine::CloseDrive(drive_);
    engine::DriveTableEntry(drive_).GeometryKnown = 0;
    geometry_ = engine::DriveGeometry{};
    bool readable = false;
    try {
        readable = engine::GetDriveGeometry(drive_, geometry_) != support::False;
    } catch (const support::RuntimeError& error) {
        readable = false;
        outcome_.failure = error.Description();
    }
    if (!readable || geometry_.TotalSectors <= 0) {
        outcome_.refusal = RunRefusal::NoCard;
        return false;
    }
    // A card that cannot be read is said once, for both stages, with the
    // device and the reason.
    if (std::string openError; !engine::OpenDriveForReading(drive_, openError)) {
        outcome_.refusal = RunRefusal::DriveUnreadable;
        outcome_.failure = openError;
        view_.ShowRefusal(outcome_.refusal, openError, texts_(text::WizardTitle));
        return false;
    }
    return true;
}

namespace {

// A file where a result folder must go would make every save fail. "" when
// the folders are there or can be made, else what is in the way.
std::string FileInTheWay(const std::string& root) {
    for (const char* subfolder : {shell::TurboScanSubfolder, shell::DeepScanSubfolder}) {
        fs::path path = fs::path(root + subfolder).lexically_normal();
        if (!path.has_filename()) path = path.parent_path();
        // The nearest part of the path that exists decides.
        for (; !path.empty(); path = path.parent_path()) {
            std::error_code ec;
            const auto status = fs::status(path, ec);
            const bool exists = !ec && status.type() != fs::file_type::not_found;
            if (exists && !fs::is_directory(status)) return path.string();
            if (exists || path == path.parent_path()) break;
        }
    }
    return "";
}

} // namespace

bool RecoveryRun::ChooseDestination() {
    const std::string root =
        request_.destinationRoot.empty() ? shell::ReadDestinationRoot() : request_.destinationRoot;
    outcome_.root = WithTrailingSlash(root);
    view_.ShowDestination(outcome_.root, "");
    if (const std::string file = FileInTheWay(outcome_.root); !file.empty()) {
        outcome_.refusal = RunRefusal::DestinationInTheWay;
        outcome_.failure = file + " is a file, not a folder";
        view_.ShowRefusal(outcome_.refusal, outcome_.failure, texts_(text::WizardTitle));
        return false;
    }
    // Files saved onto the card being read would take the place of the
    // deleted files still to be recovered.
    platform::DriveInfo info;
    if (platform::FindDrive(request_.letter, &info) && engine::FolderOnSource(outcome_.root, info.source)) {
        outcome_.refusal = RunRefusal::DestinationOnCard;
        outcome_.failure = "the destination " + outcome_.root + " is on the drive being read (" + info.source +
                           "): saving there would overwrite the files still to be recovered; choose a folder on "
                           "another drive";
        view_.ShowRefusal(outcome_.refusal, outcome_.failure, texts_(text::WizardTitle));
        return false;
    }
    return true;
}

void RecoveryRun::RunStages(const engine::VolumeLayout& probed) {
    if (request_.stages == RunStages::DeepOnly) {
        OfferToRemoveEarlierResults();
        // The data area starts where this card's boot sector says, if it
        // says something usable; otherwise the whole drive is scanned.
        engine::CloseDrive(drive_);
        RunDeepScan(probed);
        return;
    }
    RunTurboScan();
}

void RecoveryRun::OfferToRemoveEarlierResults() {
    const std::string turboFolder = shell::FolderUnderRoot(outcome_.root, shell::TurboScanSubfolder);
    const std::string deepFolder = shell::FolderUnderRoot(outcome_.root, shell::DeepScanSubfolder);
    std::error_code ec;
    bool remove = false;
    bool removeDeep = true;
    switch (request_.earlierResults) {
    case EarlierResults::Ask:
        // Earlier results are someone's recovered photos: No is the default.
        remove = fs::is_directory(turboFolder, ec) &&
                 platform::MsgBox(texts_(text::EarlierResults),
                                  platform::vbYesNo | platform::vbQuestion | platform::vbDefaultButton2,
                                  texts_(text::TurboScanTitle)) == platform::IDYES;
        break;
    case EarlierResults::Delete:
        remove = true;
        removeDeep = request_.stages != RunStages::TurboOnly;
        break;
    case EarlierResults::Keep:
        break;
    }
    if (remove) {
        fs::remove_all(turboFolder, ec);
        if (removeDeep) fs::remove_all(deepFolder, ec);
        outcome_.earlierResultsRemoved = true;
        view_.EarlierResultsRemoved(outcome_.root);
    }
    view_.ShowDestination(outcome_.root, texts_(text::DestinationLink));
    view_.ShowStatus(texts_(text::Scanning));
}

void RecoveryRun::ConnectEvents(engine::FATEngine& engine) {
    TurboScanSummary& turbo = outcome_.turbo;
    engine.Events.LogErrorMessage = [this, &turbo](const std::string& message) {
        ++turbo.errors;
        if (turbo.messages.size() < MaxKeptMessages) turbo.messages.push_back(message);
        view_.ShowEngineError(message);
    };
    engine.Events.LogInfoMessage = [](const std::string&) {};
    engine.Events.OnFATFilesFound = [this, &turbo](std::int32_t count) {
        turbo.found = count;
        if (report_) report_->SetFilesFound(count);
        view_.ShowFilesFound(count);
    };
    engine.Events.OnFoundFATFile = [this, &turbo](const std::string& folder, const std::string& name) {
        view_.ShowCurrentFile(name);
        std::error_code ec;
        const std::string path = folder + name;
        const auto size = fs::file_size(path, ec);
        ++turbo.saved;
        turbo.bytesSaved += ec ? 0 : size;
        view_.FileSaved(path, ec ? 0 : size);
    };
    engine.Events.OnSavedFATFile = [this](const engine::SavedFATFile& file) {
        if (report_) report_->AddSavedFATFile(file);
        // A whole copy stands for the same bytes when the deep scan carves them.
        if (file.Complete && !file.Runs.empty() && !file.Sha256.empty() && file.SizeSaved == file.SizeOnCard)
            turboCopies_.push_back({file.Folder + file.SavedName, file.Runs.front().Offset,
                                    static_cast<std::int64_t>(file.SizeSaved), file.Sha256});
    };
    engine.Events.OnProgress = [this, &turbo](std::int32_t done) {
        progressDone_ = done;
        const double percent = turbo.found > 0 ? std::nearbyint(100.0 / static_cast<double>(turbo.found) * done) : 0;
        view_.ShowTurboProgress(done, turbo.found,
                                static_cast<std::int32_t>(std::clamp(percent, 0.0, static_cast<double>(view_.BarMaximum()))));
    };
}

void RecoveryRun::RunTurboScan() {
    turboScanRunning_ = true;
    Enter(RunStage::TurboScan);
    OfferToRemoveEarlierResults();
    TurboScanSummary& turbo = outcome_.turbo;
    turbo.folder = shell::FolderUnderRoot(outcome_.root, shell::TurboScanSubfolder);
    const auto started = Clock::now();
    bool failed = false;
    support::RuntimeError failure(0, "", "");
    engine::VolumeLayout deepScanLayout;
    {
        engine::FATEngine engine;
        ConnectEvents(engine);
        engine.SetDestFolder(turbo.folder);
        const std::int32_t sectors =
            request_.sectorsAtOnce > 0 ? request_.sectorsAtOnce : ProposedSectorsAtOnce(geometry_);
        engine.SetSectorsAtOnce(static_cast<std::int16_t>(std::clamp<std::int32_t>(sectors, 1, 32767)));
        engine_ = &engine;
        try {
            if (!turboScanCancelled_) engine.PreScan(std::string(1, request_.letter), support::ToTruth(request_.keepFolders));
        } catch (const support::RuntimeError& error) {
            failed = true;
            failure = error;
        }
        engine_ = nullptr;
        engine::CloseDrive(drive_);
        // The deep scan starts at the data area of the boot sector just read.
        deepScanLayout = engine.Layout();
        KeepCard(engine);
        const engine::SaveSummary& saving = engine.SaveResults();
        turbo.incomplete = saving.Incomplete;
        turbo.notWritten = saving.NotWritten;
        turbo.destinationFull = saving.DestinationFull;
    }
    turbo.seconds = SecondsSince(started);
    EndTurboScan(failed ? &failure : nullptr, deepScanLayout);
}

// What follows the turbo scan: the message of a stop or a failure, and the
// deep scan when it is wanted. failure: the error that ended it, if any.
void RecoveryRun::EndTurboScan(const support::RuntimeError* failure, const engine::VolumeLayout& deepScanLayout) {
    TurboScanSummary& turbo = outcome_.turbo;
    const bool failed = failure != nullptr;
    if (turboScanCancelled_) {
        // Stopping during the directory walk raises its own error: it is the
        // Stop the user asked for, not a failure.
        if (failed && failure->Number() != ErrStoppedDuringWalk) turbo.failure = failure->Description();
        turbo.end = StageEnd::Stopped;
        view_.ShowStatus(texts_(text::ScanCancelled));
        view_.TurboScanEnded(turbo);
        platform::MsgBox(texts_(text::TurboScanCancelled), platform::vbQuestion, texts_(text::TurboScanTitle));
    } else if (failed) {
        turbo.end = StageEnd::Failed;
        turbo.failure = failure->Description();
        view_.TurboScanEnded(turbo);
        view_.ShowTurboScanError(*failure);
        view_.ShowProgress(0);
        turboScanRunning_ = false;
        if (!EndForFullDestination() && request_.stages != RunStages::TurboOnly &&
            platform::MsgBox(texts_(text::TurboFailedBefore) + "\r\n\r\n" + texts_(text::TurboFailedAfter),
                             platform::vbYesNo | platform::vbQuestion, texts_(text::TurboFailedTitle)) == platform::IDYES)
            RunDeepScan(deepScanLayout);
    } else {
        turbo.end = StageEnd::Completed;
        turboScanRunning_ = false;
        view_.ShowStatus(texts_(text::TurboScanFinished));
        view_.TurboScanEnded(turbo);
        if (!EndForFullDestination() && request_.stages != RunStages::TurboOnly && DeepScanWanted())
            RunDeepScan(deepScanLayout);
    }
    view_.ShowProgress(0);
    turboScanRunning_ = false;
}

// A destination without space would fail the deep scan's first file as
// well: the run ends with one message that says how many files it could
// not write, instead of one for each of them.
bool RecoveryRun::EndForFullDestination() {
    if (!outcome_.turbo.destinationFull) return false;
    outcome_.endedByFullDestination = true;
    view_.ShowDestinationFull(texts_(text::DestinationFullBefore) + " " + std::to_string(outcome_.turbo.notWritten) +
                                  "\r\n\r\n" + texts_(text::DestinationFullAfter),
                              texts_(text::WizardTitle));
    return true;
}

bool RecoveryRun::DeepScanWanted() {
    return platform::MsgBox(texts_(text::DeepScanQuestionBefore) + " " + std::to_string(outcome_.turbo.found) +
                                "!\r\n\r\n" + texts_(text::DeepScanQuestionAfter),
                            platform::vbYesNo | platform::vbQuestion,
                            texts_(text::DeepScanQuestionTitle)) == platform::IDYES;
}

void RecoveryRun::RunDeepScan(const engine::VolumeLayout& layout) {
    Enter(RunStage::DeepScan);
    DeepScanAdapter host(*this, layout.DeepScanStart());
    const auto started = Clock::now();
    DeepScan scan;
    scan.Run(host);
    outcome_.deep = scan.LastOutcome();
    outcome_.deepScanRan = true;
    outcome_.deepSeconds = SecondsSince(started);
    view_.DeepScanEnded(outcome_.deep, outcome_.deepSeconds);
}

void RecoveryRun::Stop() {
    if (turboScanRunning_) {
        turboScanCancelled_ = true;
        view_.ShowStatus(texts_(text::Cancelling));
        if (engine_) engine_->StopScan();
    } else {
        deepStopRequested_ = true;
    }
}

void RecoveryRun::Enter(RunStage stage) {
    stage_ = stage;
    view_.EnterStage(stage);
}

namespace {

// "Files saved whole: 12", a line of the closing question's counts.
std::string CountLine(const WizardTexts& texts, int caption, std::int64_t count) {
    return texts(caption) + " " + std::to_string(count);
}

} // namespace

std::string RunCounts(const RecoveryOutcome& outcome, const WizardTexts& texts) {
    std::string counts = CountLine(texts, text::SavedWhole, outcome.SavedWhole());
    if (outcome.SavedIncomplete() > 0) counts += "\r\n" + CountLine(texts, text::SavedIncomplete, outcome.SavedIncomplete());
    if (outcome.NotWritten() > 0) {
        counts += "\r\n" + CountLine(texts, text::NotWritten, outcome.NotWritten());
        if (outcome.turbo.destinationFull || outcome.endedByFullDestination)
            counts += " (" + texts(text::NoSpaceLeft) + ")";
    }
    return counts;
}

ClosingQuestion ClosingQuestionFor(const RecoveryOutcome& outcome, const WizardTexts& texts) {
    const int question = platform::vbYesNo | platform::vbQuestion;
    const std::int64_t whole = outcome.SavedWhole();
    const std::int64_t incomplete = outcome.SavedIncomplete();
    const std::int64_t notWritten = outcome.NotWritten();
    const bool stopped = outcome.Stopped();
    const std::string stoppedLine = stopped ? texts(text::ScanWasStopped) + "\r\n\r\n" : "";
    ClosingQuestion closing;
    if (whole + incomplete + notWritten == 0) {
        closing.text = stoppedLine + texts(text::NoFilesFound);
        closing.title = texts(stopped ? text::RecoveryStoppedTitle : text::NoFilesFoundTitle);
        closing.style = question;
        closing.offer = ClosingQuestion::Offer::MainMenu;
        return closing;
    }
    if (!stopped && incomplete == 0 && notWritten == 0) {
        closing.text = std::to_string(whole) + " " + texts(text::FilesRecovered);
        closing.title = texts(text::FilesRecoveredTitle);
        closing.style = question;
        closing.offer = ClosingQuestion::Offer::Viewer;
        return closing;
    }
    closing.text = stoppedLine + RunCounts(outcome, texts);
    closing.title = texts(stopped ? text::RecoveryStoppedTitle : text::FilesRecoveredTitle);
    if (whole + incomplete == 0) {
        // Nothing reached the destination: nothing to look at.
        closing.style = platform::vbExclamation;
        closing.offer = ClosingQuestion::Offer::Nothing;
        return closing;
    }
    closing.text += "\r\n\r\n" + texts(text::LookAtTheFiles);
    closing.style = question;
    closing.offer = ClosingQuestion::Offer::Viewer;
    return closing;
}

ClosingChoice AskClosingQuestion(const RecoveryOutcome& outcome, const WizardTexts& texts) {
    const ClosingQuestion closing = ClosingQuestionFor(outcome, texts);
    const bool yes = platform::MsgBox(closing.text, closing.style, closing.title) == platform::IDYES;
    if (!yes || closing.offer == ClosingQuestion::Offer::Nothing) return ClosingChoice::StayInWizard;
    return closing.offer == ClosingQuestion::Offer::Viewer ? ClosingChoice::ViewResults : ClosingChoice::MainMenu;
}

std::string NamedFilesText(const RecoveryOutcome& outcome, const WizardTexts& texts) {
    if (!outcome.deepScanRan || outcome.deep.filesNamed <= 0) return "";
    return std::to_string(outcome.deep.filesNamed) + " " + texts(text::FilesNamed);
}

std::string WithTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder.push_back('/');
    return folder;
}

} // namespace wizard
