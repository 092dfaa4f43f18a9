// The recovery wizard's texts: the 86 entries of the [RecoveryWizard]
// section of the user's language (English when that language has none),
// and the numbers of those the run uses.
#pragma once

#include <string>
#include <vector>

namespace wizard {

class WizardTexts {
public:
    WizardTexts() = default;
    explicit WizardTexts(std::vector<std::string> entries) : entries_(std::move(entries)) {}
    // Entry n (1 to 86); "" when the section could not be read.
    std::string operator()(int n) const {
        return n >= 1 && static_cast<std::size_t>(n) <= entries_.size() ? entries_[static_cast<std::size_t>(n) - 1]
                                                                         : std::string();
    }
    const std::vector<std::string>& Entries() const { return entries_; }
    bool Loaded() const { return !entries_.empty(); }

private:
    std::vector<std::string> entries_;
};

// Reads the [RecoveryWizard] texts of the user's language and loads the
// engine's [FATMisc] messages with them.
WizardTexts LoadWizardTexts();

// Numbers of the texts the run and the drive list use.
namespace text {
inline constexpr int RunTimeError = 15;
inline constexpr int Cancelling = 16;
inline constexpr int Starting = 17;
inline constexpr int Ready = 18;
inline constexpr int NoFilesFound = 19;
inline constexpr int NoFilesFoundTitle = 20;
inline constexpr int FilesRecovered = 21;
inline constexpr int FilesRecoveredTitle = 22;
inline constexpr int WizardTitle = 27;
inline constexpr int EarlierResults = 31;
inline constexpr int TurboScanTitle = 32;
inline constexpr int Scanning = 33;
inline constexpr int ScanCancelled = 34;
inline constexpr int TurboScanCancelled = 35;
inline constexpr int TurboScanFinished = 36;
inline constexpr int DeepScanQuestionBefore = 37;
inline constexpr int DeepScanQuestionAfter = 38;
inline constexpr int DeepScanQuestionTitle = 39;
inline constexpr int TurboFailedBefore = 40;
inline constexpr int TurboFailedAfter = 41;
inline constexpr int TurboFailedTitle = 42;
inline constexpr int DriveUnreadable = 50;
inline constexpr int DestinationLink = 52;
inline constexpr int NoDriveStrings = 59;
// What a run came to, and the deep scan's pace.
inline constexpr int RecoveryStoppedTitle = 71;
inline constexpr int ScanWasStopped = 72;
inline constexpr int SavedWhole = 73;
inline constexpr int SavedIncomplete = 74;
inline constexpr int NotWritten = 75;
inline constexpr int NoSpaceLeft = 76;
inline constexpr int LookAtTheFiles = 77;
inline constexpr int DestinationFullBefore = 78;
inline constexpr int DestinationFullAfter = 79;
inline constexpr int FileProblemsCaption = 80;
inline constexpr int TimeLeftAbout = 81;
inline constexpr int Hours = 82;
inline constexpr int Minutes = 83;
inline constexpr int Seconds = 84;
inline constexpr int SlowedByReadErrors = 85;
inline constexpr int FilesNamed = 86;
} // namespace text

} // namespace wizard
