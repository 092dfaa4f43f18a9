// `backup --drive D --to FILE`: the whole volume into a new image file.
#include <filesystem>
#include <ostream>

#include "cli/Command.h"
#include "cli/DeviceToolSupport.h"
#include "engine/RawDevice.h"
#include "tools/AdvTools.h"

namespace {

using namespace cli::devicetools;

// A backup never replaces anything, and never writes through a symbolic
// link (a dangling one would have its target created).
bool CheckNewImageName(const std::string& path, cli::Context& context) {
    std::error_code ec;
    auto status = std::filesystem::symlink_status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return true;
    std::string what = std::filesystem::is_symlink(status) ? " is a symbolic link" : " already exists";
    context.err << "tranquo-cli backup: " << path << what << "; give the name of a new file; nothing was written\n";
    return false;
}

int RunBackup(const ToolArguments& parsed, cli::Context& context) {
    if (!CheckDriveReadable(parsed.drive, "backup", context)) return cli::ExitFailure;
    if (!CheckNewImageName(parsed.file, context)) return cli::ExitFailure;
    LoadToolTexts();
    // The tool asks for the image file through the file dialog; the command
    // line answers it.
    context.ui.QueueFileAnswer(parsed.file);
    engine::DriveNumber drive = engine::DriveNumberFromLetter(parsed.drive);
    return RunTool("backup", context, "no image was written", [drive](const tools::ToolInputs& inputs) { tools::BackupDevice(drive, inputs); });
}

cli::CommandRun DefineBackup(CLI::App& command) {
    return DefineToolCommand(command, RunBackup, "the drive to copy", "--to",
                      "the new image file; an existing name or a link is refused");
}

cli::CommandRegistration backup({"backup", "copy a whole drive into a new image file", DefineBackup});

} // namespace
