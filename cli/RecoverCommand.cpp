// `recover`: the recovery wizard's run without its window. The turbo scan
// rebuilds the card's FAT file system and saves every file it can reach into
// DEST/My Recovered Mobile Device/Turbo Scan/; then, when the user agrees
// (--yes or the terminal), the deep scan carves by signature into
// DEST/My Recovered Mobile Device/Deep Scan/. --turbo-only and --deep-only
// run one of them. On a terminal a progress bar shows the file count,
// otherwise each saved file gets one line; a summary ends the run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <unistd.h>

#include "cli/Command.h"
#include "cli/DeepScanStage.h"
#include "engine/FATEngine.h"
#include "engine/FileTypeTable.h"
#include "engine/RawDevice.h"
#include "platform/drives.h"
#include "platform/fileapi.h"
#include "shell/DestinationFolder.h"
#include "shell/LanguageFile.h"
#include "support/RuntimeError.h"

namespace {

namespace fs = std::filesystem;

int RunRecover(const std::vector<std::string>& args, cli::Context& context);

cli::CommandRegistration recover({"recover", "bring back the photos and videos of a card",
                                  "recover [--drive D] [--dest DIR] [--turbo-only | --deep-only] "
                                  "[--sectors-at-once N] [--retries N] [--prefix TEXT] [--delete-earlier]",
                                  RunRecover});

struct RecoverOptions {
    char drive = 0;
    std::string dest;
    bool turboOnly = false;
    bool deepOnly = false;
    long sectorsAtOnce = 0;  // 0: the wizard's proposal for the drive
    bool deleteEarlier = false;
    long retries = 1;        // deep scan: read attempts for a failing block
    std::string prefix;      // deep scan: put before every carved file's number
};

// A carved file's name is the prefix, a number of at least five digits, "."
// and the extension; names may have 255 bytes. Room is kept for numbers of
// ten digits and extensions of ten characters.
constexpr std::size_t MaxPrefixBytes = 255 - 10 - 1 - 10;

int Usage(cli::Context& context, const std::string& problem) {
    context.err << "tranquo-cli recover: " << problem << "\n"
                << "usage: tranquo-cli [--attach IMAGE]... [--yes] [-q] " << cli::FindCommand("recover")->usage << "\n";
    return cli::ExitUsage;
}

// Parses the options; returns -1 when they are fine, else the exit status.
int ParseOptions(const std::vector<std::string>& args, cli::Context& context, RecoverOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        if (arg == "--drive") {
            if (!takeValue()) return Usage(context, "--drive needs a drive letter");
            options.drive = cli::ParseDriveLetter(value);
            if (!options.drive) return Usage(context, "'" + value + "' is not a drive letter");
        } else if (arg == "--dest") {
            if (!takeValue() || value.empty()) return Usage(context, "--dest needs a folder");
            options.dest = value;
        } else if (arg == "--sectors-at-once") {
            if (!takeValue()) return Usage(context, "--sectors-at-once needs a number");
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 32767)
                return Usage(context, "--sectors-at-once takes a number from 1 to 32767");
            options.sectorsAtOnce = n;
        } else if (arg == "--retries") {
            if (!takeValue()) return Usage(context, "--retries needs a number");
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 1000)
                return Usage(context, "--retries takes a number from 1 to 1000");
            options.retries = n;
        } else if (arg == "--prefix") {
            if (!takeValue()) return Usage(context, "--prefix needs a text");
            // The prefix becomes part of a file name in the Deep Scan folder.
            if (std::any_of(value.begin(), value.end(),
                            [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20; }))
                return Usage(context, "--prefix may not contain '/' or control characters");
            if (value.size() > MaxPrefixBytes)
                return Usage(context, "--prefix is too long: at most " + std::to_string(MaxPrefixBytes) +
                                          " bytes, so that a carved file's name stays within the 255 bytes a "
                                          "file system allows");
            options.prefix = value;
        } else if (arg == "--turbo-only" && !hasValue) {
            options.turboOnly = true;
        } else if (arg == "--deep-only" && !hasValue) {
            options.deepOnly = true;
        } else if (arg == "--delete-earlier" && !hasValue) {
            options.deleteEarlier = true;
        } else {
            return Usage(context, "unexpected argument '" + args[i] + "'");
        }
    }
    if (options.turboOnly && options.deepOnly) return Usage(context, "--turbo-only and --deep-only exclude each other");
    return -1;
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

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder.push_back('/');
    return folder;
}

// The result folders must be folders or creatable as folders: a file in
// their way would make every save fail. "" when fine, else the problem.
std::string DestinationProblem(const std::string& root) {
    for (const char* subfolder : {shell::TurboScanSubfolder, shell::DeepScanSubfolder}) {
        fs::path path = fs::path(root + subfolder).lexically_normal();
        if (!path.has_filename()) path = path.parent_path();
        // The nearest part of the path that exists decides.
        for (; !path.empty(); path = path.parent_path()) {
            std::error_code ec;
            auto status = fs::status(path, ec);
            bool exists = !ec && status.type() != fs::file_type::not_found;
            if (exists && !fs::is_directory(status)) return path.string() + " is a file, not a folder";
            if (exists || path == path.parent_path()) break;
        }
    }
    return "";
}

// The console as the turbo scan's window.
class TurboScanConsole {
public:
    TurboScanConsole(cli::Context& context, bool quiet)
        : context_(context), quiet_(quiet), terminal_(isatty(STDOUT_FILENO) != 0) {}

    void Connect(engine::FATEngine& engine) {
        engine.Events.LogErrorMessage = [this](const std::string& message) {
            EndBar();
            ++errors_;
            platform::MsgBox(message, platform::vbExclamation, "Tranquo");
        };
        engine.Events.LogInfoMessage = [](const std::string&) {};
        engine.Events.OnFATFilesFound = [this](std::int32_t count) {
            found_ = count;
            Draw();
        };
        engine.Events.OnFoundFATFile = [this](const std::string& folder, const std::string& name) {
            std::error_code ec;
            const auto size = fs::file_size(folder + name, ec);
            ++saved_;
            bytes_ += ec ? 0 : size;
            if (!quiet_ && !terminal_) context_.out << "saved " << folder << name << " (" << (ec ? 0 : size) << " bytes)\n";
        };
        engine.Events.OnProgress = [this](std::int32_t done) {
            done_ = done;
            Draw();
        };
    }
    void EndBar() {
        if (barShown_) context_.out << "\n" << std::flush;
        barShown_ = false;
    }

    std::int64_t found_ = 0, done_ = 0, saved_ = 0, errors_ = 0;
    unsigned long long bytes_ = 0;

private:
    void Draw() {
        if (quiet_ || !terminal_) return;
        constexpr int Width = 30;
        const int percent = found_ > 0 ? static_cast<int>(done_ * 100 / found_) : 0;
        const int filled = percent * Width / 100;
        context_.out << "\rTurbo scan [" << std::string(static_cast<std::size_t>(filled), '#')
                     << std::string(static_cast<std::size_t>(Width - filled), ' ') << "] " << percent << "%  " << done_
                     << "/" << found_ << " files" << std::flush;
        barShown_ = true;
    }

    cli::Context& context_;
    bool quiet_;
    bool terminal_;
    bool barShown_ = false;
};

// The turbo scan's summary after "N of M files saved": the files that were
// not saved whole, and why.
std::string UnsavedFilesText(const engine::SaveSummary& summary) {
    std::string text;
    if (summary.NotWritten > 0) {
        text += ", " + std::to_string(summary.NotWritten) + " could not be written";
        if (summary.DestinationFull) text += ": no space left on the destination";
    }
    if (summary.Incomplete > 0)
        text += ", " + std::to_string(summary.Incomplete) + " incomplete (the drive ends before the rest of their data)";
    return text;
}

// Runs the turbo scan; layout receives the volume layout its boot-sector
// parse gave (for the deep scan's start).
int RunTurboScan(const RecoverOptions& options, const std::string& root, const engine::DriveGeometry& geometry,
                 cli::Context& context, std::int64_t& filesFound, bool& stopped, engine::VolumeLayout& layout) {
    const std::string folder = root + shell::TurboScanSubfolder;
    const bool quiet = context.options.quiet;
    TurboScanConsole console(context, quiet);
    const auto started = std::chrono::steady_clock::now();
    stopped = false;
    int status = cli::ExitSuccess;
    engine::SaveSummary summary;
    {
        engine::FATEngine engine;
        console.Connect(engine);
        engine.SetDestFolder(folder);
        const long sectors = options.sectorsAtOnce > 0 ? options.sectorsAtOnce : cli::ProposedSectorsAtOnce(geometry);
        engine.SetSectorsAtOnce(static_cast<std::int16_t>(std::clamp<long>(sectors, 1, 32767)));
        context.OnInterrupt([&engine, &stopped] {
            stopped = true;
            engine.StopScan();
        });
        try {
            engine.PreScan(std::string(1, options.drive), support::False);
        } catch (const support::RuntimeError& error) {
            console.EndBar();
            if (!(stopped && error.Number() == 70)) {
                context.err << "tranquo-cli recover: " << error.Description() << "\n";
                status = cli::ExitFailure;
            }
        }
        context.OnInterrupt({});
        console.EndBar();
        engine::CloseDrive(engine::DriveNumberFromLetter(options.drive));
        layout = engine.Layout();
        summary = engine.SaveResults();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // A file not saved whole is a failure of the run, whatever else went well.
    if (status == cli::ExitSuccess && (console.errors_ > 0 || summary.NotWritten > 0 || summary.Incomplete > 0))
        status = cli::ExitFailure;
    {
        // The summary is the run's result: printed also with --quiet.
        char line[160];
        std::snprintf(line, sizeof line, ", %.1f MiB, %.1f s", static_cast<double>(console.bytes_) / (1024.0 * 1024.0),
                      seconds);
        context.out << "Turbo scan " << (stopped ? "stopped" : status == cli::ExitSuccess ? "completed" : "failed")
                    << ": " << console.saved_ << " of " << console.found_ << " files saved" << UnsavedFilesText(summary)
                    << line;
        if (console.errors_) context.out << ", " << console.errors_ << " errors";
        context.out << ", into " << folder << "\n" << std::flush;
    }
    filesFound = console.found_;
    return status;
}

int RunDeepScan(const RecoverOptions& options, const std::string& root, const engine::DriveGeometry& geometry,
                std::int32_t firstDataSector, std::int64_t filesFoundBefore, cli::Context& context) {
    cli::DeepScanStageOptions deep;
    deep.drive = engine::DriveNumberFromLetter(options.drive);
    deep.geometry = geometry;
    deep.firstDataSector = firstDataSector;
    deep.sectorsAtOnce = static_cast<std::int32_t>(options.sectorsAtOnce);
    deep.retries = static_cast<std::int32_t>(options.retries);
    deep.prefix = options.prefix;
    deep.destinationRoot = root;
    deep.filesFoundBefore = filesFoundBefore;
    deep.quiet = context.options.quiet;
    deep.progressBar = isatty(STDOUT_FILENO) != 0;
    return cli::RunDeepScanStage(deep, context).exitStatus;
}

// The wizard's question after the turbo scan (or after it failed).
bool DeepScanWanted(bool turboFailed, std::int64_t filesFound) {
    const auto text = [](int n) {
        const auto& texts = cli::RecoveryWizardTexts();
        return n <= static_cast<int>(texts.size()) ? texts[static_cast<std::size_t>(n - 1)] : std::string();
    };
    const int style = platform::vbYesNo | platform::vbQuestion;
    if (turboFailed) return platform::MsgBox(text(40) + "\r\n\r\n" + text(41), style, text(42)) == platform::IDYES;
    return platform::MsgBox(text(37) + " " + std::to_string(filesFound) + "!\r\n\r\n" + text(38), style, text(39)) ==
           platform::IDYES;
}

int RunRecover(const std::vector<std::string>& args, cli::Context& context) {
    RecoverOptions options;
    if (const int status = ParseOptions(args, context, options); status >= 0) return status;
    if (!ChooseDrive(options, context)) return cli::ExitFailure;

    shell::LoadFATMiscTexts(shell::LanguageName());
    const engine::DriveNumber drive = engine::DriveNumberFromLetter(options.drive);
    engine::DriveGeometry geometry;
    try {
        engine::GetDriveGeometry(drive, geometry);
    } catch (const support::RuntimeError& error) {
        context.err << "tranquo-cli recover: " << error.Description() << "\n";
        return cli::ExitFailure;
    }
    if (GetDriveTypeA((std::string(1, options.drive) + ":\\").c_str()) == DRIVE_CDROM) {
        platform::MsgBox("You have selected a CD-ROM drive. It is not possible to recover data from CD.",
                         platform::vbCritical, "CD-ROM Drive Selected");
        return cli::ExitFailure;
    }
    if (geometry.TotalSectors == 0) {
        context.err << "tranquo-cli recover: drive " << options.drive << ": has no card in it\n";
        return cli::ExitFailure;
    }
    // A card that cannot be read is said once, for both stages, with the
    // device and the reason.
    if (std::string openError; !engine::OpenDriveForReading(drive, openError)) {
        context.err << "tranquo-cli recover: " << openError << "\n";
        return cli::ExitFailure;
    }

    std::string root;
    if (!options.dest.empty()) {
        std::error_code ec;
        root = WithSlash(fs::absolute(options.dest, ec).string());
    } else {
        root = WithSlash(shell::ReadDestinationRoot());
        // The user did not say where: say it before anything is written there.
        context.out << "Recovered files go to " << root << "My Recovered Mobile Device/\n" << std::flush;
    }
    if (const std::string problem = DestinationProblem(root); !problem.empty()) {
        context.err << "tranquo-cli recover: " << problem << "; nothing was scanned (choose another --dest)\n";
        return cli::ExitFailure;
    }
    if (options.deleteEarlier) {
        // Only on request: earlier results are someone's recovered photos.
        std::error_code ec;
        fs::remove_all(root + shell::TurboScanSubfolder, ec);
        if (!options.turboOnly) fs::remove_all(root + shell::DeepScanSubfolder, ec);
        if (!context.options.quiet) context.out << "Earlier results in " << root << "My Recovered Mobile Device removed\n";
    }

    try {
        engine::LoadFileTypeData();
    } catch (const support::RuntimeError& error) {
        context.err << "tranquo-cli recover: " << error.Description() << "\n";
        return cli::ExitFailure;
    }

    if (options.deepOnly) {
        // The data area starts where this card's boot sector says, if it
        // says something usable; otherwise the whole drive is scanned.
        engine::FATEngine probe;
        probe.ReadDeviceBootSector(drive);
        return RunDeepScan(options, root, geometry, probe.Layout().DeepScanStart(), 0, context);
    }
    std::int64_t filesFound = 0;
    bool stopped = false;
    engine::VolumeLayout layout;
    const int turbo = RunTurboScan(options, root, geometry, context, filesFound, stopped, layout);
    // A stopped turbo scan never offers the deep scan.
    if (options.turboOnly || stopped || !DeepScanWanted(turbo != cli::ExitSuccess, filesFound)) return turbo;
    // The deep scan starts at the data area of the boot sector just read.
    const int deep = RunDeepScan(options, root, geometry, layout.DeepScanStart(), filesFound, context);
    return turbo != cli::ExitSuccess ? turbo : deep;
}

} // namespace
