// `restore --drive D --from FILE`: an image written back over the volume,
// after a confirmation (--yes when there is no terminal).
#include <ostream>

#include "cli/Command.h"
#include "cli/DeviceToolSupport.h"
#include "engine/RawDevice.h"
#include "tools/AdvTools.h"

namespace {

using namespace cli::devicetools;

int RunRestore(const ToolArguments& parsed, cli::Context& context) {
    if (!CheckDriveWritable(parsed.drive, "restore", context)) return cli::ExitFailure;
    LoadToolTexts();
    context.ui.QueueFileAnswer(parsed.file);
    engine::DriveNumber drive = engine::DriveNumberFromLetter(parsed.drive);
    return RunTool("restore", context, "not restored; nothing was written", [drive](const tools::ToolInputs& inputs) { tools::RestoreDevice(drive, inputs); });
}

cli::CommandRun DefineRestore(CLI::App& command) {
    return DefineToolCommand(command, RunRestore, "the removable drive (or attached image) to overwrite", "--from",
                      "the image file to write back");
}

cli::CommandRegistration restore({"restore", "write an image file back over a removable drive (asks first)",
                                  DefineRestore});

} // namespace
