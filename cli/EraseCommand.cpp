// `erase --drive D`: zeros over a removable drive after its reserved area,
// after a confirmation (--yes when there is no terminal).
#include <ostream>

#include "cli/Command.h"
#include "cli/DeviceToolSupport.h"
#include "engine/RawDevice.h"
#include "tools/AdvTools.h"

namespace {

using namespace cli::devicetools;

int RunErase(const ToolArguments& parsed, cli::Context& context) {
    if (!CheckDriveWritable(parsed.drive, "erase", context)) return cli::ExitFailure;
    LoadToolTexts();
    engine::DriveNumber drive = engine::DriveNumberFromLetter(parsed.drive);
    return RunTool("erase", context, "not erased; nothing was written",
                   [drive](const tools::ToolInputs& inputs) { tools::SecureEraseDevice(drive, support::False, inputs); });
}

cli::CommandRun DefineErase(CLI::App& command) {
    return DefineToolCommand(command, RunErase, "the removable drive (or attached image) to overwrite with zeros");
}

cli::CommandRegistration erase({"erase", "overwrite a removable drive with zeros, keeping its boot sector (asks first)",
                                DefineErase});

} // namespace
