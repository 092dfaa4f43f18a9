// The command framework of tranquo-cli. Each command lives in its own file
// and registers itself with a static CommandRegistration, so that adding a
// command means adding one file to cli/ and nothing else. A command declares
// its options on its part of the command line (CLI11) and returns the run
// that uses their values:
//
//     namespace {
//     cli::CommandRun DefineBackup(CLI::App& command) {
//         auto options = std::make_shared<BackupOptions>();
//         command.add_option("--to", options->file, "the new image file")->required();
//         return [options](cli::Context& context) {
//             context.OnInterrupt([] { /* ask the operation to stop */ });
//             ...
//             return cli::ExitSuccess;
//         };
//     }
//     cli::CommandRegistration backup({"backup", "copy a drive to an image file", DefineBackup});
//     }
//
// The global options (--attach IMAGE, --yes, -q/--quiet, --help, --version)
// are accepted before and after the command. A command writes results to
// context.out and messages to context.err, and talks to the user only
// through context.ui (which is also the process's platform::Ui() while the
// command runs).
#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace CLI {
class App;
}

namespace cli {

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
// Stopped by Ctrl-C (128 + SIGINT, what shells report for an interrupted
// program), also when the operation stopped cleanly.
constexpr int ExitStopped = 130;

// How a command's run ended, for commands whose stages each have an outcome
// and that must give one exit status: Stopped wins over Failed, Failed over
// Succeeded.
enum class RunOutcome { Succeeded, Failed, Stopped };
int ExitStatusOf(RunOutcome outcome);
RunOutcome Worse(RunOutcome a, RunOutcome b);

struct GlobalOptions {
    std::vector<std::string> attach; // --attach PATH, in order
    bool assumeYes = false;          // --yes
    bool quiet = false;              // -q, --quiet
};

struct Context {
    platform::ConsoleUi& ui;
    const GlobalOptions& options;
    std::string commandLine; // as given, for the records a command keeps of its run
    std::ostream& out;
    std::ostream& err;
    // Sets what Ctrl-C does while the command runs (for example: ask the
    // running scan to stop). The action runs once, at the next pump after the
    // first Ctrl-C; a second Ctrl-C ends the program at once. Until an action
    // is set (and after it is cleared with an empty one) Ctrl-C ends the
    // program at once.
    void OnInterrupt(std::function<void()> action);
    std::function<void()> interruptAction; // set through OnInterrupt
};

// A command's run with the values its options were parsed into; returns the
// exit status.
using CommandRun = std::function<int(Context& context)>;

struct CommandInfo {
    std::string name;
    std::string summary; // one line for the command list
    // Declares the command's options and arguments on its subcommand, bound
    // to values the returned run owns; called once per command line.
    std::function<CommandRun(CLI::App& command)> define;
};

class CommandRegistration {
public:
    explicit CommandRegistration(CommandInfo info);
};

// The registered commands in name order.
std::vector<CommandInfo> Commands();

// Parses the command line, attaches the images, installs the console UI and
// runs the command. Returns the exit status: 2 for bad usage (with the
// problem and where to find the command's options on err), 0 after --help,
// help COMMAND or --version (on out).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Set by Ctrl-C (SIGINT) once the handler is installed.
bool InterruptRequested();
// The same as a flag that long operations test between their steps (the
// device tools before every block): it is set at the moment of the first
// Ctrl-C, while the command's interrupt action runs only at the next pump.
const std::atomic<bool>& InterruptFlag();
void ClearInterrupt();
void InstallInterruptHandler();

// For command implementations: "D:" or "d" → 'D'; 0 when it names no letter.
char ParseDriveLetter(const std::string& text);
// "64.0 MiB", "1.95 GiB", "512 bytes".
std::string HumanSize(unsigned long long bytes);

} // namespace cli
