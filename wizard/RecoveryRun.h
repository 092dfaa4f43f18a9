// One recovery run, as the wizard's Start button and `tranquo-cli recover`
// both perform it: the checks (CD-ROM, a card in the drive, the signature
// database), the destination root, the earlier results, the turbo scan, the
// deep-scan question and the deep scan. Questions and messages go through
// the user-interface services (platform::MsgBox), pending events run through
// platform::DoEvents; what the run has to show goes to a RecoveryView. The
// closing question is asked by the front end that has somewhere to go.
// Every run that gets past its checks keeps its record, report.xml, in the
// results folder (see RecoveryReport).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/RawDevice.h"
#include "support/RuntimeError.h"
#include "wizard/DeepScan.h"
#include "wizard/RecoveryReport.h"
#include "wizard/ScanPace.h"
#include "wizard/WizardTexts.h"

namespace engine {
class FATEngine;
}

namespace wizard {

enum class RunStages { Both, TurboOnly, DeepOnly };

// What happens to the results of an earlier run in the destination.
enum class EarlierResults {
    Ask,    // the wizard's question (No, the default, keeps them)
    Delete, // removed without a question (tranquo-cli --delete-earlier)
    Keep,
};

struct RecoveryRequest {
    char letter = 0;                 // the drive, "D"
    std::int32_t sectorsAtOnce = 0;  // 0: proposed for the drive
    std::int32_t retries = 1;        // deep scan: read attempts for a failing block
    std::string prefix;              // deep scan: before every carved file's number
    std::string destinationRoot;     // "": the stored root (DestDir), its default stored
    EarlierResults earlierResults = EarlierResults::Ask;
    RunStages stages = RunStages::Both;
    bool keepFolders = false;        // turbo scan: the card's folder tree instead of one folder
    std::string reportPath;          // "": none; else a second copy of the run's report
    std::string commandLine;         // how the run was asked for, as the report names it
};

enum class RunStage { Idle, TurboScan, DeepScan };

// Why a run ended before it scanned.
enum class RunRefusal {
    None,
    CdRom,             // "You have selected a CD-ROM drive..."
    DriveAccessRefused, // the user may not open the drive (failure says why)
    NoCard,            // the drive's geometry could not be read, or it has no sectors
    DriveUnreadable,   // the drive cannot be opened (failure names it and why)
    DestinationInTheWay, // a file stands where a result folder must go
    DestinationOnCard, // the destination lies on the drive being read
    ReportCopyRefused, // --report names something that exists, or cannot be made
    RunTimeError,      // the signature database (or something else) failed before the scan
    ReportNotCreated   // the run's report could not be created (failure says why)
};

enum class StageEnd { NotRun, Completed, Stopped, Failed };

struct TurboScanSummary {
    StageEnd end = StageEnd::NotRun;
    std::int64_t found = 0;          // files the engine found
    std::int64_t saved = 0;          // files it saved
    std::uint64_t bytesSaved = 0;
    std::int64_t errors = 0;         // error messages it reported
    std::int32_t incomplete = 0;     // saved as far as the card gave them, not whole
    std::int32_t notWritten = 0;     // could not be written
    bool destinationFull = false;    // ... for lack of space on the destination
    // The engine's messages (files not saved whole, folders it could not
    // read), in order; the first MaxKeptMessages of them.
    std::vector<std::string> messages;
    std::string failure;             // the description of the error that ended it
    std::string folder;              // where the files went
    double seconds = 0;
};

struct RecoveryOutcome {
    RunRefusal refusal = RunRefusal::None;
    std::string failure;             // what refused the run (a run-time error's description, ...)
    std::string root;                // the destination root, ending in "/"
    bool earlierResultsRemoved = false;
    TurboScanSummary turbo;
    bool deepScanRan = false;
    DeepScanOutcome deep;
    std::int64_t deepSavedWhole = 0; // carved files that came to their end whole
    bool endedByFullDestination = false; // the deep scan was not offered: no space left
    double deepSeconds = 0;
    std::string reportPath;          // the report in the results folder ("" when none was opened)
    std::string reportFailure;       // why the report's last version could not be written ("" when it was)

    // Turbo plus deep: every file the run found.
    std::int64_t FilesFound() const { return turbo.found + (deepScanRan ? deep.found : 0); }
    // What became of them, over both stages.
    std::int64_t SavedWhole() const { return turbo.saved + (deepScanRan ? deepSavedWhole : 0); }
    std::int64_t SavedIncomplete() const { return turbo.incomplete + (deepScanRan ? deep.incompleteFiles : 0); }
    std::int64_t NotWritten() const { return turbo.notWritten + (deepScanRan ? deep.filesNotWritten : 0); }
    bool Stopped() const {
        return turbo.end == StageEnd::Stopped || (deepScanRan && deep.end == DeepScanEnd::Stopped);
    }
};

// The engine messages a run keeps for its list; the count goes on beyond.
inline constexpr std::size_t MaxKeptMessages = 10000;

// What a front end shows of a run. Every member has a default that shows
// nothing (messages: the user-interface services).
class RecoveryView {
public:
    virtual ~RecoveryView() = default;

    // The run moved into a stage (Idle: it has ended).
    virtual void EnterStage(RunStage stage) { (void)stage; }
    virtual void ShowStatus(const std::string& text) { (void)text; }
    // The destination root in use, and the link to its results folder.
    virtual void ShowDestination(const std::string& root, const std::string& linkText) { (void)root, (void)linkText; }
    virtual void EarlierResultsRemoved(const std::string& root) { (void)root; }
    // Files found so far in the run (both stages).
    virtual void ShowFilesFound(std::int64_t total) { (void)total; }
    // The file being saved or carved; "" clears it.
    virtual void ShowCurrentFile(const std::string& name) { (void)name; }
    // The bar's value (0 to BarMaximum).
    virtual void ShowProgress(std::int32_t value) { (void)value; }
    // The turbo scan's saving step: files done of found, as a percentage.
    virtual void ShowTurboProgress(std::int64_t done, std::int64_t found, std::int32_t percent) {
        (void)done, (void)found;
        ShowProgress(percent);
    }
    // The deep scan's percentage, speed and time left.
    virtual void ShowDeepScanPace(const PaceReading& pace) { (void)pace; }
    virtual void ShowImagesFound(std::int64_t carved) { (void)carved; }
    virtual void ShowReadErrors(std::int64_t errors) { (void)errors; }
    virtual void FileSaved(const std::string& path, std::uint64_t bytes) { (void)path, (void)bytes; }
    virtual void FileCarved(const std::string& path, std::int64_t bytes, CarvedFileEnd how) {
        (void)path, (void)bytes, (void)how;
    }
    // After the deep scan's pass: a carved file took its name from the card.
    virtual void FileNamed(const CarvedFileNamed& named) { (void)named; }
    // After the pass: a carved file was the turbo scan's copy, and removed.
    virtual void FileAlreadySaved(const std::string& carvedPath, const std::string& turboPath) {
        (void)carvedPath, (void)turboPath;
    }
    // After the deep scan's pass: a carved photo put back together from
    // pieces pieces of the card; its file now holds bytes bytes.
    virtual void PhotoPutBackTogether(const std::string& path, std::int64_t bytes, std::size_t pieces) {
        (void)path, (void)bytes, (void)pieces;
    }
    virtual void TurboScanEnded(const TurboScanSummary& summary) { (void)summary; }
    virtual void DeepScanEnded(const DeepScanOutcome& outcome, double seconds) { (void)outcome, (void)seconds; }
    virtual std::int32_t BarMaximum() { return 100; }

    // An error message of the engine: a file it could not save whole, a
    // folder it could not read. One of many: listed, never asked about (a
    // full destination or a damaged card gives one per file). The run keeps
    // them in its outcome too.
    virtual void ShowEngineError(const std::string& message) { (void)message; }
    // The destination ran out of space during the turbo scan: the run ends
    // there (no deep scan) with this one message, the exclamation icon.
    virtual void ShowDestinationFull(const std::string& text, const std::string& title);
    // A run-time error that ends the run before it scans: the message the
    // wizard shows (text 15, the number, ". ", the description).
    virtual void ShowRunTimeError(const support::RuntimeError& error, const std::string& message,
                                  const std::string& title);
    // A run refused before it scanned (a drive that cannot be opened, a file
    // in the way of the results): the reason, with the exclamation icon.
    virtual void ShowRefusal(RunRefusal refusal, const std::string& reason, const std::string& title);
    // A run-time error that ended the turbo scan: its description.
    virtual void ShowTurboScanError(const support::RuntimeError& error);
    // A message of the deep scan: its text, the message-box style and title.
    virtual void ShowDeepScanMessage(const std::string& text, int style, const std::string& title);
    // The deep scan's one question: replace an existing file (only when no
    // number is left for a name). No, the default, keeps it.
    virtual bool AskToReplaceCarvedFile(const std::string& text, const std::string& title);
    // The report could not be written whole at the run's end (said once).
    virtual void ShowReportFailure(const std::string& reason);
};

class RecoveryRun {
public:
    RecoveryRun(RecoveryRequest request, const WizardTexts& texts, RecoveryView& view);
    ~RecoveryRun();
    RecoveryRun(const RecoveryRun&) = delete;
    RecoveryRun& operator=(const RecoveryRun&) = delete;

    // The whole run; nothing is thrown to the caller.
    RecoveryOutcome Run();

    // Stop: ends the turbo scan (the deep scan is then not offered) or the
    // deep scan after the sector it is working on.
    void Stop();
    bool TurboScanRunning() const { return turboScanRunning_; }
    RunStage Stage() const { return stage_; }

private:
    class DeepScanAdapter;

    bool CheckReportCopy();
    bool CheckDrive();
    bool ChooseDestination();
    engine::VolumeLayout ProbeLayout();
    void KeepCard(const engine::FATEngine& engine);
    bool OpenReport(const engine::VolumeLayout& layout);
    RunState ReportState() const;
    void RunStages(const engine::VolumeLayout& probed);
    void RunTurboScan();
    void TurboScanFailed(const support::RuntimeError& error);
    void EndTurboScan(const support::RuntimeError* failure, const engine::VolumeLayout& deepScanLayout);
    bool DeepScanWanted();
    void RunDeepScan(const engine::VolumeLayout& layout);
    bool EndForFullDestination();
    void OfferToRemoveEarlierResults();
    void ConnectEvents(engine::FATEngine& engine);
    void Enter(RunStage stage);

    RecoveryRequest request_;
    const WizardTexts& texts_;
    RecoveryView& view_;
    RecoveryOutcome outcome_;
    engine::DriveNumber drive_ = 0;
    engine::DriveGeometry geometry_;
    RunStage stage_ = RunStage::Idle;
    bool turboScanRunning_ = false;
    bool turboScanCancelled_ = false;
    bool deepStopRequested_ = false;
    std::int64_t progressDone_ = 0;
    engine::FATEngine* engine_ = nullptr; // while the turbo scan runs
    std::unique_ptr<RecoveryReport> report_; // from the run's start to its end
    DeepScanCard card_;                      // what the last boot-sector parse knew, for the deep scan
    std::vector<TurboScanCopy> turboCopies_; // the files the turbo scan saved whole
};

// What the wizard asks when a run is over. After a run that saved every
// file it found whole: how many were recovered and whether to look at them
// (the number and text 21). Otherwise the counts of files saved whole,
// saved incomplete and not written, that the run was stopped, and whether
// to look at them; with nothing saved, only the counts. Without files:
// whether to go back to the main menu (text 19).
struct ClosingQuestion {
    enum class Offer { Viewer, MainMenu, Nothing };
    std::string text;
    std::string title;
    int style = 0;   // buttons and icon (platform::vb...)
    Offer offer = Offer::Nothing; // what Yes leads to
};
// The counts of a run, one per line: files saved whole, and those saved
// incomplete and not written when there are any ("Files saved whole: 12").
std::string RunCounts(const RecoveryOutcome& outcome, const WizardTexts& texts);
ClosingQuestion ClosingQuestionFor(const RecoveryOutcome& outcome, const WizardTexts& texts);

// What the user chose at the closing question.
enum class ClosingChoice { ViewResults, MainMenu, StayInWizard };
ClosingChoice AskClosingQuestion(const RecoveryOutcome& outcome, const WizardTexts& texts);

// How many carved files came back with their names from the card ("12 files
// came back with their names..."); "" when none did or no deep scan ran.
std::string NamedFilesText(const RecoveryOutcome& outcome, const WizardTexts& texts);

// The destination root as a folder path ending in "/".
std::string WithTrailingSlash(std::string folder);

} // namespace wizard
