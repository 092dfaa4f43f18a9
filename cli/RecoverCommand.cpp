// `recover`: the recovery wizard's run without its window. The turbo scan
// rebuilds the card's FAT file system and saves every file it can reach into
// DEST/My Recovered Mobile Device/Turbo Scan/; then, when the user agrees
// (--yes or the terminal), the deep scan carves by signature into
// DEST/My Recovered Mobile Device/Deep Scan/. --turbo-only and --deep-only
// run one of them. The run itself is the wizard's (wizard::RecoveryRun):
// this file parses the command line and shows the run on the console. On a
// terminal a progress bar shows the file count, otherwise each saved file
// gets one line; a summary ends each stage. Every run records what it saved,
// and from where, in DEST/My Recovered Mobile Device/report.xml (DFXML);
// --report PATH writes it there as well. --keep-folders saves the turbo
// scan's files in the card's folder tree.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <unistd.h>

#include "cli/Command.h"
#include "cli/CommandOptions.h"
#include "cli/DeepScanStage.h"
#include "platform/drives.h"
#include "wizard/RecoveryRun.h"

namespace {

namespace fs = std::filesystem;

struct RecoverOptions {
    char drive = 0;
    std::string dest;
    bool turboOnly = false;
    bool deepOnly = false;
    long sectorsAtOnce = 0;  // 0: the wizard's proposal for the drive
    bool deleteEarlier = false;
    long retries = 1;        // deep scan: read attempts for a failing block
    std::string prefix;      // deep scan: put before every carved file's number
    bool keepFolders = false; // turbo scan: the card's folder tree instead of one folder
    std::string reportPath;  // a second copy of the run's report
};

// A carved file's name is the prefix, a number of at least five digits, "."
// and the extension; names may have 255 bytes. Room is kept for numbers of
// ten digits and extensions of ten characters.
constexpr std::size_t MaxPrefixBytes = 255 - 10 - 1 - 10;

// Names go into the Deep Scan folder: one folder, one name of 255 bytes.
CLI::Validator PrefixCheck() {
    return CLI::Validator(
        [](std::string& value) {
            if (std::any_of(value.begin(), value.end(),
                            [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20; }))
                return std::string("may not contain '/' or control characters");
            if (value.size() > MaxPrefixBytes)
                return "too long: at most " + std::to_string(MaxPrefixBytes) +
                       " bytes, so that a carved file's name stays within the 255 bytes a file system allows";
            return std::string();
        },
        "");
}

void DefineOptions(CLI::App& command, RecoverOptions& options) {
    cli::AddDriveOption(command, options.drive, "the card's drive (default: the only removable drive with a card)");
    command.add_option("--dest", options.dest, "where 'My Recovered Mobile Device' is made (default: Documents)")
        ->type_name("DIR")
        ->check(cli::NotEmpty());
    auto* turboOnly = command.add_flag("--turbo-only", options.turboOnly, "only the turbo scan (the card's file system)");
    auto* deepOnly = command.add_flag("--deep-only", options.deepOnly, "only the deep scan (carving by signature)");
    turboOnly->excludes(deepOnly);
    command.add_option("--sectors-at-once", options.sectorsAtOnce,
                       "deep scan: sectors read at once, 1 to 32767 (default: proposed for the drive)")
        ->type_name("N")
        ->check(cli::NumberBetween(1, 32767));
    command.add_option("--retries", options.retries, "deep scan: reads of a failing block, 1 to 1000 (default: 1)")
        ->type_name("N")
        ->check(cli::NumberBetween(1, 1000));
    command.add_option("--prefix", options.prefix, "deep scan: text put before every carved file's number")
        ->type_name("TEXT")
        ->check(PrefixCheck());
    command.add_flag("--delete-earlier", options.deleteEarlier,
                     "delete the results of an earlier run in the destination first");
    command.add_flag("--keep-folders", options.keepFolders, "turbo scan: save files in the card's folder tree");
    command.add_option("--report", options.reportPath, "write a copy of the run's report (DFXML) to PATH as well (a new file)")
        ->type_name("PATH")
        ->check(cli::NotEmpty());
}

// The drive to recover: the one named, or the only removable drive.
bool ChooseDrive(RecoverOptions& options, cli::Context& context) {
    if (options.drive) {
        platform::DriveInfo info;
        if (!platform::FindDrive(options.drive, &info)) {
            context.err << "tranquo-cli recover: there is no drive " << options.drive << ":\n";
            return false;
        }
        return true;
    }
    std::vector<char> removable;
    for (const auto& drive : platform::ListDrives())
        if (drive.kind == platform::DriveKind::Removable && drive.hasMedia) removable.push_back(drive.letter);
    if (removable.size() == 1) {
        options.drive = removable.front();
        return true;
    }
    if (removable.empty()) {
        context.err << "tranquo-cli recover: no removable drive with a card found (insert one, or use --attach IMAGE)\n";
    } else {
        context.err << "tranquo-cli recover: there are " << removable.size()
                    << " removable drives; choose one with --drive (see tranquo-cli drives)\n";
    }
    return false;
}

// The turbo scan's summary after "N of M files saved": the files that were
// not saved whole, and why.
std::string UnsavedFilesText(const wizard::TurboScanSummary& summary) {
    std::string text;
    if (summary.notWritten > 0) {
        text += ", " + std::to_string(summary.notWritten) + " could not be written";
        if (summary.destinationFull) text += ": no space left on the destination";
    }
    if (summary.incomplete > 0)
        text += ", " + std::to_string(summary.incomplete) + " incomplete (not all of their data could be read)";
    return text;
}

// The console as the run's window.
class ConsoleView : public wizard::RecoveryView {
public:
    ConsoleView(cli::Context& context, const wizard::WizardTexts& texts, bool destinationNamed)
        : context_(context), texts_(texts), quiet_(context.options.quiet), terminal_(isatty(STDOUT_FILENO) != 0),
          destinationNamed_(destinationNamed), deep_(context.out, quiet_, terminal_),
          deepUi_(context.ui, context.options.assumeYes, context.err) {}
    ~ConsoleView() override { LeaveDeepScan(); }

    void EnterStage(wizard::RunStage stage) override {
        EndTurboBar();
        LeaveDeepScan();
        stage_ = stage;
        // The scan's replace question gets the console's answer for it.
        if (stage == wizard::RunStage::DeepScan) {
            previousUi_ = &platform::Ui();
            platform::SetUi(&deepUi_);
        }
    }
    void ShowStatus(const std::string& text) override {
        if (stage_ == wizard::RunStage::DeepScan) deep_.ShowStatus(text);
    }
    void ShowDestination(const std::string& root, const std::string& linkText) override {
        root_ = root;
        // The user did not say where: say it before anything is written there.
        if (destinationNamed_ || announced_ || !linkText.empty()) return;
        announced_ = true;
        context_.out << "Recovered files go to " << root << "My Recovered Mobile Device/\n" << std::flush;
    }
    void EarlierResultsRemoved(const std::string& root) override {
        if (!quiet_) context_.out << "Earlier results in " << root << "My Recovered Mobile Device removed\n";
    }
    void ShowTurboProgress(std::int64_t done, std::int64_t found, std::int32_t) override {
        if (quiet_ || !terminal_) return;
        constexpr int Width = 30;
        const int percent = found > 0 ? static_cast<int>(std::clamp<std::int64_t>(done * 100 / found, 0, 100)) : 0;
        const int filled = percent * Width / 100;
        context_.out << "\rTurbo scan [" << std::string(static_cast<std::size_t>(filled), '#')
                     << std::string(static_cast<std::size_t>(Width - filled), ' ') << "] " << percent << "%  " << done
                     << "/" << found << " files" << std::flush;
        turboBarShown_ = true;
    }
    void FileSaved(const std::string& path, std::uint64_t bytes) override {
        if (!quiet_ && !terminal_) context_.out << "saved " << path << " (" << bytes << " bytes)\n";
    }
    void ShowDeepScanPace(const wizard::PaceReading& pace) override {
        deep_.ShowPace(wizard::PaceText(pace, texts_, '.'));
    }
    void ShowImagesFound(std::int64_t carved) override { deep_.ShowImagesFound(carved); }
    void ShowReadErrors(std::int64_t errors) override { deep_.ShowReadErrors(errors); }
    void ShowProgress(std::int32_t value) override {
        if (stage_ == wizard::RunStage::DeepScan) deep_.ShowProgress(value);
    }
    void FileCarved(const std::string& path, std::int64_t bytes, wizard::CarvedFileEnd how) override {
        deep_.FileCarved(path, bytes, how);
    }
    void FileNamed(const wizard::CarvedFileNamed& named) override { deep_.FileNamed(named); }
    void FileAlreadySaved(const std::string& carvedPath, const std::string& turboPath) override {
        deep_.FileAlreadySaved(carvedPath, turboPath);
    }
    void PhotoPutBackTogether(const std::string& path, std::int64_t bytes, std::size_t pieces) override {
        deep_.PhotoPutBackTogether(path, bytes, pieces);
    }
    void ShowEngineError(const std::string& message) override {
        EndTurboBar();
        platform::MsgBox(message, platform::vbExclamation, "Tranquo");
    }
    void ShowRunTimeError(const support::RuntimeError& error, const std::string&, const std::string&) override {
        Problem(error.Description());
    }
    void ShowRefusal(wizard::RunRefusal refusal, const std::string& reason, const std::string&) override {
        switch (refusal) {
        case wizard::RunRefusal::DestinationInTheWay:
            Problem(reason + "; nothing was scanned (choose another --dest)");
            break;
        case wizard::RunRefusal::DriveAccessRefused: Problem(reason + "; nothing was recovered"); break;
        case wizard::RunRefusal::ReportCopyRefused: Problem(reason + "; nothing was scanned (choose another --report)"); break;
        default: Problem(reason); break;
        }
    }
    void ShowTurboScanError(const support::RuntimeError& error) override { Problem(error.Description()); }
    // The wizard's message on one line.
    void ShowDestinationFull(const std::string& text, const std::string&) override {
        std::string line = text;
        for (std::size_t at; (at = line.find("\r\n\r\n")) != std::string::npos;) line.replace(at, 4, ". ");
        Problem(line);
    }
    void ShowReportFailure(const std::string& reason) override { Problem(reason); }

    // The summary is the stage's result: printed also with --quiet.
    void TurboScanEnded(const wizard::TurboScanSummary& summary) override {
        EndTurboBar();
        turboRan_ = true;
        const bool failed = summary.end == wizard::StageEnd::Failed || summary.errors > 0 ||
                            summary.notWritten > 0 || summary.incomplete > 0;
        const bool stopped = summary.end == wizard::StageEnd::Stopped;
        // A file not saved whole is a failure of the run, whatever else went well.
        turbo_ = stopped ? cli::RunOutcome::Stopped : failed ? cli::RunOutcome::Failed : cli::RunOutcome::Succeeded;
        char line[160];
        std::snprintf(line, sizeof line, ", %.1f MiB, %.1f s",
                      static_cast<double>(summary.bytesSaved) / (1024.0 * 1024.0), summary.seconds);
        context_.out << "Turbo scan " << (stopped ? "stopped" : failed ? "failed" : "completed") << ": "
                     << summary.saved << " of " << summary.found << " files saved" << UnsavedFilesText(summary)
                     << line;
        if (summary.errors) context_.out << ", " << summary.errors << " errors";
        context_.out << ", into " << summary.folder << "\n" << std::flush;
    }
    void DeepScanEnded(const wizard::DeepScanOutcome& outcome, double seconds) override {
        deepRan_ = true;
        deepResult_ = deep_.Summarize(outcome, seconds, root_);
    }

    // The exit status of the whole run: the worse of the stages that ran.
    int ExitStatus(const wizard::RecoveryOutcome& outcome) const {
        if (outcome.refusal != wizard::RunRefusal::None || !outcome.reportFailure.empty()) return cli::ExitFailure;
        cli::RunOutcome result = cli::RunOutcome::Succeeded;
        if (turboRan_) result = turbo_;
        if (deepRan_) result = cli::Worse(result, deepResult_);
        return cli::ExitStatusOf(result);
    }

private:
    void Problem(const std::string& text) {
        EndTurboBar();
        deep_.EndBar();
        context_.err << "tranquo-cli recover: " << text << "\n";
    }
    void EndTurboBar() {
        if (turboBarShown_) context_.out << "\n" << std::flush;
        turboBarShown_ = false;
    }
    void LeaveDeepScan() {
        deep_.EndBar();
        if (previousUi_) platform::SetUi(previousUi_);
        previousUi_ = nullptr;
    }

    cli::Context& context_;
    const wizard::WizardTexts& texts_;
    bool quiet_;
    bool terminal_;
    bool destinationNamed_;
    bool announced_ = false;
    bool turboBarShown_ = false;
    wizard::RunStage stage_ = wizard::RunStage::Idle;
    cli::DeepScanConsole deep_;
    cli::DeepScanUi deepUi_;
    platform::UiServices* previousUi_ = nullptr;
    std::string root_;
    bool turboRan_ = false;
    bool deepRan_ = false;
    cli::RunOutcome turbo_ = cli::RunOutcome::Succeeded;
    cli::RunOutcome deepResult_ = cli::RunOutcome::Succeeded;
};

int RunRecover(RecoverOptions options, cli::Context& context) {
    if (!ChooseDrive(options, context)) return cli::ExitFailure;

    wizard::RecoveryRequest request;
    request.letter = options.drive;
    request.sectorsAtOnce = static_cast<std::int32_t>(options.sectorsAtOnce);
    request.retries = static_cast<std::int32_t>(options.retries);
    request.prefix = options.prefix;
    request.keepFolders = options.keepFolders;
    request.reportPath = options.reportPath;
    request.commandLine = context.commandLine;
    if (!options.dest.empty()) {
        std::error_code ec;
        request.destinationRoot = wizard::WithTrailingSlash(fs::absolute(options.dest, ec).string());
    }
    // Only on request: earlier results are someone's recovered photos.
    request.earlierResults = options.deleteEarlier ? wizard::EarlierResults::Delete : wizard::EarlierResults::Keep;
    request.stages = options.turboOnly  ? wizard::RunStages::TurboOnly
                     : options.deepOnly ? wizard::RunStages::DeepOnly
                                        : wizard::RunStages::Both;

    const wizard::WizardTexts texts = wizard::LoadWizardTexts();
    ConsoleView view(context, texts, !options.dest.empty());
    wizard::RecoveryRun run(request, texts, view);
    // Ctrl-C is the Stop button: it ends the turbo scan or the deep scan.
    context.OnInterrupt([&run] { run.Stop(); });
    const wizard::RecoveryOutcome outcome = run.Run();
    context.OnInterrupt({});
    if (outcome.refusal == wizard::RunRefusal::NoCard) {
        context.err << "tranquo-cli recover: "
                    << (outcome.failure.empty() ? "drive " + std::string(1, options.drive) + ": has no card in it"
                                                : outcome.failure)
                    << "\n";
    }
    if (!context.options.quiet && !outcome.reportPath.empty() && outcome.reportFailure.empty()) context.out << "Report: " << outcome.reportPath << "\n";
    return view.ExitStatus(outcome);
}

cli::CommandRun DefineRecover(CLI::App& command) {
    auto options = std::make_shared<RecoverOptions>();
    DefineOptions(command, *options);
    return [options](cli::Context& context) { return RunRecover(*options, context); };
}

cli::CommandRegistration recover({"recover", "bring back the photos and videos of a card", DefineRecover});

} // namespace
