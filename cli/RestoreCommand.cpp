// `restore --drive D --from FILE`: an image written back over the volume,
// after a confirmation (--yes when there is no terminal).
#include <ostream>

#include "cli/Command.h"
#include "cli/DeviceToolSupport.h"
#include "engine/RawDevice.h"
#include "tools/AdvTools.h"

namespace {

using namespace cli::devicetools;

int RunRestore(const std::vector<std::string>& args, cli::Context& context);

cli::CommandRegistration restore({"restore", "write an image file back over a removable drive (asks first)",
                                  "restore --drive D --from FILE", RunRestore});

int RunRestore(const std::vector<std::string>& args, cli::Context& context) {
    ToolArguments parsed;
    if (!ParseToolArguments(args, "--from", *cli::FindCommand("restore"), context, &parsed)) return cli::ExitUsage;
    if (!CheckDriveWritable(parsed.drive, "restore", context)) return cli::ExitFailure;
    LoadToolTexts();
    context.ui.QueueFileAnswer(parsed.file);
    engine::DriveNumber drive = engine::DriveNumberFromLetter(parsed.drive);
    return RunTool("restore", context, "not restored; nothing was written", [drive](const tools::ToolInputs& inputs) { tools::RestoreDevice(drive, inputs); });
}

} // namespace
