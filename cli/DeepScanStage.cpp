#include "cli/DeepScanStage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "shell/LanguageFile.h"

namespace cli {

namespace {

constexpr int BarWidth = 30;

const char* CarvedText(wizard::CarvedFileEnd how);
const char* CarvedReason(wizard::CarvedFileEnd how);

// The console as the deep scan's window.
class ConsoleDeepScanHost : public wizard::DeepScanHost {
public:
    ConsoleDeepScanHost(const DeepScanStageOptions& options, std::ostream& out)
        : options_(options), out_(out), terminal_(options.progressBar) {}

    engine::DriveNumber Drive() override { return options_.drive; }
    engine::DriveGeometry Geometry() override { return options_.geometry; }
    std::int32_t FirstDataSector() override { return options_.firstDataSector; }
    std::int32_t SectorsAtOnce() override {
        return options_.sectorsAtOnce > 0 ? options_.sectorsAtOnce : ProposedSectorsAtOnce(options_.geometry);
    }
    std::int32_t RetryLimit() override { return options_.retries; }
    std::string FilenamePrefix() override { return options_.prefix; }
    std::string DestinationRoot() override { return options_.destinationRoot; }
    std::int32_t BarMaximum() override { return 100; }
    std::string WizardText(int n) override {
        const auto& texts = RecoveryWizardTexts();
        return n >= 1 && n <= static_cast<int>(texts.size()) ? texts[static_cast<std::size_t>(n - 1)] : "";
    }
    std::int64_t FilesFoundShown() override { return options_.filesFoundBefore; }

    void EnterScanningLook() override {}
    void EnableBack() override {}

    void ShowStatus(const std::string& text) override {
        if (!options_.quiet && !text.empty()) Line(text);
    }
    void ShowFilesFound(std::int64_t) override {}
    void ShowImagesFound(std::int64_t carved) override {
        carved_ = carved;
        DrawBar();
    }
    void ShowReadErrors(std::int64_t errors) override {
        readErrors_ = errors;
        DrawBar();
    }
    void ShowCurrentFile(const std::string&) override {}
    void ShowProgress(std::int32_t value) override {
        if (value == percent_) return;
        percent_ = value;
        DrawBar();
    }
    void FileCarved(const std::string& path, std::int64_t bytes, wizard::CarvedFileEnd how) override {
        const bool whole = how == wizard::CarvedFileEnd::Complete;
        // A file that is not whole is worth a line even when quiet.
        if (whole && (options_.quiet || terminal_)) return;
        EndBar();
        out_ << CarvedText(how) << " " << path << " (" << bytes << " bytes)" << CarvedReason(how) << "\n"
             << std::flush;
        DrawBar();
    }

    bool StopRequested() override { return stop_; }
    void SetStopRequested(bool value) override { stop_ = value; }

    // Ends the bar's line before the summary.
    void EndBar() {
        if (barShown_) out_ << '\n' << std::flush;
        barShown_ = false;
    }

private:
    void Line(const std::string& text) {
        EndBar();
        out_ << text << '\n' << std::flush;
    }
    void DrawBar() {
        if (options_.quiet || !terminal_) return;
        const int shown = std::clamp(percent_, 0, 100);
        const int filled = shown * BarWidth / 100;
        out_ << "\rDeep scan [" << std::string(filled, '#') << std::string(BarWidth - filled, ' ') << "] " << shown
             << "%  " << carved_ << " files  " << readErrors_ << " read errors" << std::flush;
        barShown_ = true;
    }

    const DeepScanStageOptions& options_;
    std::ostream& out_;
    bool terminal_;
    bool stop_ = false;
    bool barShown_ = false;
    int percent_ = -1;
    std::int64_t carved_ = 0;
    std::int64_t readErrors_ = 0;
};

const char* CarvedText(wizard::CarvedFileEnd how) {
    switch (how) {
    case wizard::CarvedFileEnd::Complete: return "carved";
    case wizard::CarvedFileEnd::NotWrittenWhole: return "not written whole:";
    default: return "incomplete";
    }
}

const char* CarvedReason(wizard::CarvedFileEnd how) {
    switch (how) {
    case wizard::CarvedFileEnd::CutAtUnreadableSector: return ": the drive could not be read on";
    case wizard::CarvedFileEnd::CutByStop: return ": the scan was stopped";
    case wizard::CarvedFileEnd::CutByError: return ": the scan ended with an error";
    default: return "";
    }
}

const char* EndText(wizard::DeepScanEnd end) {
    switch (end) {
    case wizard::DeepScanEnd::Completed: return "completed";
    case wizard::DeepScanEnd::Stopped: return "stopped";
    case wizard::DeepScanEnd::ReadFailure: return "completed past unreadable sectors";
    case wizard::DeepScanEnd::FirstSectorUnreadable: return "failed: the drive could not be read";
    case wizard::DeepScanEnd::WriteFailure: return "failed: a carved file could not be written";
    case wizard::DeepScanEnd::RunTimeError: return "failed";
    }
    return "";
}

} // namespace

int DeepScanUi::MessageBox(const std::string& text, int style, const std::string& title) {
    constexpr int ButtonsMask = 0x7;
    constexpr int DefaultButtonMask = 0x300;
    const bool replaceQuestion =
        (style & ButtonsMask) == platform::vbYesNo && (style & DefaultButtonMask) == platform::vbDefaultButton2;
    if (!assumeYes_ || !replaceQuestion) return console_.MessageBox(text, style, title);
    err_ << (title.empty() ? "tranquo" : title) << ": " << text << "\n  -> No (--yes never replaces a file)\n"
         << std::flush;
    return platform::IDNO;
}

std::int32_t ProposedSectorsAtOnce(const engine::DriveGeometry& geometry) {
    const std::int32_t bound = wizard::MaxSectorsAtOnce(geometry.BytesPerSector);
    if (bound == 0) return 1;
    return std::clamp(geometry.TotalSectors / 100, 1, bound);
}

const std::vector<std::string>& RecoveryWizardTexts() {
    static const std::vector<std::string> texts = shell::LoadSectionWithFallback(
        shell::LanguageName(), shell::RecoveryWizardSection.header, shell::RecoveryWizardSection.count);
    return texts;
}

DeepScanStageResult RunDeepScanStage(const DeepScanStageOptions& options, Context& context) {
    DeepScanStageResult result;
    ConsoleDeepScanHost host(options, context.out);
    // Ctrl-C is the Stop button while the scan runs.
    auto previousInterrupt = context.interruptAction;
    context.OnInterrupt([&host] { host.SetStopRequested(true); });
    const auto started = std::chrono::steady_clock::now();
    platform::UiServices& console = platform::Ui();
    DeepScanUi ui(console, context.options.assumeYes, context.err);
    platform::SetUi(&ui);
    wizard::DeepScan scan;
    scan.Run(host); // reports every failure itself, throws nothing
    platform::SetUi(&console);
    context.OnInterrupt(previousInterrupt);
    host.EndBar();
    result.outcome = scan.LastOutcome();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const auto& o = result.outcome;
    switch (o.end) {
    case wizard::DeepScanEnd::FirstSectorUnreadable:
    case wizard::DeepScanEnd::WriteFailure:
    case wizard::DeepScanEnd::RunTimeError:
        result.exitStatus = ExitFailure;
        break;
    case wizard::DeepScanEnd::Stopped:
        result.exitStatus = ExitStopped;
        break;
    default:
        result.exitStatus = ExitSuccess;
        break;
    }
    // A file that did not reach the disk whole is a failure, however the scan ended.
    if (o.filesNotWritten > 0 && result.exitStatus != ExitStopped) result.exitStatus = ExitFailure;
    // The summary is the run's result: printed also when quiet.
    {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
        context.out << "Deep scan " << EndText(o.end) << ": " << o.found << (o.found == 1 ? " file" : " files")
                    << " carved, " << HumanSize(static_cast<unsigned long long>(o.bytesWritten)) << " written";
        if (o.incompleteFiles > 0) context.out << ", " << o.incompleteFiles << " incomplete";
        if (o.filesNotWritten > 0) context.out << ", " << o.filesNotWritten << " not written whole";
        context.out << ", " << o.readErrors << " read errors";
        if (o.unreadableSectors > 0) {
            context.out << ", " << o.unreadableSectors << (o.unreadableSectors == 1 ? " sector" : " sectors")
                        << " could not be read";
            if (o.skippedSectors > 0) context.out << " (" << o.skippedSectors << " skipped)";
        }
        context.out << ", " << seconds << " s, in " << wizard::DeepScanFolder(options.destinationRoot) << "\n"
                    << std::flush;
    }
    return result;
}

} // namespace cli
