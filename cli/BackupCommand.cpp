// `backup --drive D --to FILE`: the whole volume into a new image file.
#include <ostream>

#include "cli/Command.h"
#include "cli/DeviceToolSupport.h"
#include "engine/RawDevice.h"
#include "tools/AdvTools.h"

namespace {

using namespace cli::devicetools;

int RunBackup(const std::vector<std::string>& args, cli::Context& context);

cli::CommandRegistration backup({"backup", "copy a whole drive into a new image file",
                                 "backup --drive D --to FILE", RunBackup});

int RunBackup(const std::vector<std::string>& args, cli::Context& context) {
    ToolArguments parsed;
    if (!ParseToolArguments(args, "--to", *cli::FindCommand("backup"), context, &parsed)) return cli::ExitUsage;
    if (!CheckDriveReadable(parsed.drive, "backup", context)) return cli::ExitFailure;
    LoadToolTexts();
    // The tool asks for the image file through the file dialog; the command
    // line answers it.
    context.ui.QueueFileAnswer(parsed.file);
    engine::DriveNumber drive = engine::DriveNumberFromLetter(parsed.drive);
    return RunTool("backup", context, "no image was written", [drive] { tools::BackupDevice(drive); });
}

} // namespace
