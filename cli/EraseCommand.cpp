// `erase --drive D`: zeros over a removable drive after its reserved area,
// after a confirmation (--yes when there is no terminal).
#include <ostream>

#include "cli/Command.h"
#include "cli/DeviceToolSupport.h"
#include "engine/RawDevice.h"
#include "tools/AdvTools.h"

namespace {

using namespace cli::devicetools;

int RunErase(const std::vector<std::string>& args, cli::Context& context);

cli::CommandRegistration erase({"erase", "overwrite a removable drive with zeros, keeping its boot sector (asks first)",
                                "erase --drive D", RunErase});

int RunErase(const std::vector<std::string>& args, cli::Context& context) {
    ToolArguments parsed;
    if (!ParseToolArguments(args, "", *cli::FindCommand("erase"), context, &parsed)) return cli::ExitUsage;
    if (!CheckDriveWritable(parsed.drive, "erase", context)) return cli::ExitFailure;
    LoadToolTexts();
    engine::DriveNumber drive = engine::DriveNumberFromLetter(parsed.drive);
    return RunTool("erase", context, "not erased; nothing was written",
                   [drive](const tools::ToolInputs& inputs) { tools::SecureEraseDevice(drive, support::False, inputs); });
}

} // namespace
