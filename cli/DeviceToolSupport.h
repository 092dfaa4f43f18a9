// What the backup, restore and erase commands share: their options, the
// texts the tools speak with, the checks before anything is written, and
// the exit status from the tool's outcome.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/CommandOptions.h"
#include "tools/AdvTools.h"

namespace cli::devicetools {

struct ToolArguments {
    char drive = 0;   // --drive D
    std::string file; // --to FILE (backup) or --from FILE (restore)
};

using ToolCommandRun = int (*)(const ToolArguments& arguments, Context& context);

// Declares the required "--drive D" and, when fileOption is not empty, the
// required "FILEOPTION FILE" on the command; returns the command's run,
// which calls run with their values.
CommandRun DefineToolCommand(CLI::App& command, ToolCommandRun run, const std::string& driveDescription,
                             const std::string& fileOption = "", const std::string& fileDescription = "");

// Loads the tools' and the raw device's message texts in the user's language.
void LoadToolTexts();

// The drive must exist; for writing it must be a removable drive or an
// attached image that can be opened exclusively (not mounted). Says why not.
bool CheckDriveExists(char letter, const std::string& command, Context& context);
// The drive must exist and open for reading (once: through udisks2 that is
// where the password is asked for). Says why not.
bool CheckDriveReadable(char letter, const std::string& command, Context& context);
bool CheckDriveWritable(char letter, const std::string& command, Context& context);

// Runs the tool between the window-state calls, with Ctrl-C as its stop
// flag, and turns its outcome into the exit status; a declined or cancelled
// run says that nothing was written, a stopped one exits with 130.
int RunTool(const std::string& command, Context& context, const std::string& cancelledText,
            const std::function<void(const tools::ToolInputs&)>& run);

} // namespace cli::devicetools
