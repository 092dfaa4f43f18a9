#include "cli/DeviceToolSupport.h"

#include <memory>
#include <ostream>

#include "engine/RawDevice.h"
#include "platform/drives.h"
#include "platform/fileapi.h"
#include "shell/LanguageFile.h"
#include "support/DriveAccess.h"

namespace cli::devicetools {

namespace {

// The console has no window to grey out; the tools still hand input back.
class ConsoleToolWindow : public tools::ToolWindow {
public:
    void StopTakingInput() override {}
    void TakeInputAgain() override {}
};

std::string DriveName(char letter) { return std::string(1, letter) + ":"; }

} // namespace

CommandRun DefineToolCommand(CLI::App& command, ToolCommandRun run, const std::string& driveDescription,
                             const std::string& fileOption, const std::string& fileDescription) {
    auto arguments = std::make_shared<ToolArguments>();
    AddDriveOption(command, arguments->drive, driveDescription)->required();
    if (!fileOption.empty())
        command.add_option(fileOption, arguments->file, fileDescription)
            ->type_name("FILE")
            ->required()
            ->check(NotEmpty());
    return [arguments, run](Context& context) { return run(*arguments, context); };
}

void LoadToolTexts() {
    std::string language = shell::LanguageName();
    shell::LoadFATMiscTexts(language);
    shell::LoadAdvToolsMiscTexts(language);
}

bool CheckDriveExists(char letter, const std::string& command, Context& context) {
    platform::DriveInfo info;
    if (platform::FindDrive(letter, &info)) return true;
    context.err << "tranquo-cli " << command << ": there is no drive " << DriveName(letter)
                << " ('tranquo-cli drives' lists them)\n";
    return false;
}

bool CheckDriveWritable(char letter, const std::string& command, Context& context) {
    platform::DriveInfo info;
    if (!platform::FindDrive(letter, &info)) return CheckDriveExists(letter, command, context);
    std::string refusal;
    if (info.kind != platform::DriveKind::Removable && !info.attachedImage)
        refusal = DriveName(letter) + " is not a removable drive; only removable drives and attached images are "
                                      "written to";
    else if (!info.hasMedia)
        refusal = DriveName(letter) + " has no media";

    // The exclusive open the tool will make, tried first so that a refusal
    // comes before the question, with its reason.
    if (refusal.empty()) refusal = support::DriveAccessProblem(letter, true);
    if (refusal.empty()) return true;
    context.err << "tranquo-cli " << command << ": " << refusal << "; nothing was written\n";
    return false;
}

bool CheckDriveReadable(char letter, const std::string& command, Context& context) {
    if (!CheckDriveExists(letter, command, context)) return false;
    std::string problem = support::DriveAccessProblem(letter, false);
    if (problem.empty()) return true;
    context.err << "tranquo-cli " << command << ": " << problem << "\n";
    return false;
}

int RunTool(const std::string& command, Context& context, const std::string& cancelledText,
            const std::function<void(const tools::ToolInputs&)>& run) {
    ConsoleToolWindow window;
    tools::SetToolWindow(&window);
    window.StopTakingInput();
    tools::ToolInputs inputs;
    // The tool tests the flag before every block; the first Ctrl-C only
    // sets it (the action itself has nothing more to do).
    inputs.stop = &InterruptFlag();
    context.OnInterrupt([] {});
    run(inputs);
    context.OnInterrupt({});
    tools::SetToolWindow(nullptr);
    switch (tools::LastToolOutcome()) {
    case tools::ToolOutcome::Succeeded: return ExitSuccess;
    case tools::ToolOutcome::Cancelled:
        context.err << "tranquo-cli " << command << ": " << cancelledText << "\n";
        return ExitFailure;
    case tools::ToolOutcome::Stopped: return ExitStopped;
    case tools::ToolOutcome::Failed: break;
    }
    return ExitFailure;
}

} // namespace cli::devicetools
