#include "cli/Command.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <map>
#include <ostream>

#include "platform/drives.h"

namespace cli {

namespace {

std::atomic<bool> interruptRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from the signal handler");
volatile std::sig_atomic_t interruptArmed = 0; // a command has said what Ctrl-C does

std::map<std::string, CommandInfo>& Registry() {
    static std::map<std::string, CommandInfo> commands;
    return commands;
}

void OnInterrupt(int) {
    if (interruptRequested || !interruptArmed) {
        // Nothing to stop gently, or the second Ctrl-C: the user wants out now.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    interruptRequested = true;
}

void PrintUsage(std::ostream& out) {
    out << "usage: tranquo-cli [--attach IMAGE]... [--yes] [--quiet] COMMAND [ARGUMENTS]\n"
           "\n"
           "Brings back photos, videos and sound files from FAT memory cards.\n"
           "Drives: C: is the root file system; card readers, cameras and phones get\n"
           "D:, E:, ...; --attach (or TRANQUO_ATTACH, paths separated by ':') makes\n"
           "card image files drives too.\n"
           "\n"
           "commands:\n";
    std::size_t width = 0;
    for (const auto& command : Commands()) width = std::max(width, command.name.size());
    for (const auto& command : Commands())
        out << "  " << command.name << std::string(width - command.name.size() + 2, ' ') << command.summary << "\n";
    out << "\n"
           "options:\n"
           "  --attach IMAGE  attach a card image as a drive (repeatable)\n"
           "  --yes           answer Yes to every question (needed to write without a terminal)\n"
           "  -q, --quiet     print only warnings, errors and results\n"
           "  --help          this text; 'tranquo-cli help COMMAND' for one command\n"
           "  --version       print the version\n";
}

void PrintCommandUsage(const CommandInfo& command, std::ostream& out) {
    out << "usage: tranquo-cli [OPTIONS] " << (command.usage.empty() ? command.name : command.usage) << "\n"
        << command.summary << "\n";
}

struct ParsedLine {
    GlobalOptions options;
    bool help = false;
    std::vector<std::string> words; // the command and its arguments
    std::string error;
};

ParsedLine Parse(const std::vector<std::string>& args) {
    ParsedLine parsed;
    bool literal = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (literal) {
            parsed.words.push_back(arg);
        } else if (arg == "--") {
            literal = true;
            if (!parsed.words.empty()) parsed.words.push_back(arg); // the command may want it too
        } else if (arg == "--attach") {
            if (i + 1 >= args.size()) {
                parsed.error = "--attach needs an image path";
                return parsed;
            }
            parsed.options.attach.push_back(args[++i]);
        } else if (arg.rfind("--attach=", 0) == 0) {
            parsed.options.attach.push_back(arg.substr(9));
        } else if (arg == "--yes" || arg == "-y") {
            parsed.options.assumeYes = true;
        } else if (arg == "--quiet" || arg == "-q") {
            parsed.options.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (parsed.words.empty() && arg.size() > 1 && arg[0] == '-') {
            parsed.error = "unknown option " + arg;
            return parsed;
        } else {
            parsed.words.push_back(arg);
        }
    }
    return parsed;
}

// Runs the interrupt action once, from the pump, after the first Ctrl-C.
class InterruptPump {
public:
    explicit InterruptPump(Context& context) : context_(context) {}
    void operator()() {
        if (handled_ || !InterruptRequested()) return;
        handled_ = true;
        if (context_.interruptAction) {
            context_.err << "tranquo-cli: stopping (Ctrl-C again ends at once)\n";
            context_.err.flush();
            context_.interruptAction();
        } else {
            std::signal(SIGINT, SIG_DFL);
            std::raise(SIGINT);
        }
    }

private:
    Context& context_;
    bool handled_ = false;
};

} // namespace

void Context::OnInterrupt(std::function<void()> action) {
    interruptAction = std::move(action);
    interruptArmed = interruptAction ? 1 : 0;
}

CommandRegistration::CommandRegistration(CommandInfo info) {
    std::string name = info.name;
    Registry()[name] = std::move(info);
}

std::vector<CommandInfo> Commands() {
    std::vector<CommandInfo> commands;
    for (const auto& [name, info] : Registry()) commands.push_back(info);
    return commands;
}

const CommandInfo* FindCommand(const std::string& name) {
    auto found = Registry().find(name);
    return found == Registry().end() ? nullptr : &found->second;
}

bool InterruptRequested() { return interruptRequested; }
const std::atomic<bool>& InterruptFlag() { return interruptRequested; }
void ClearInterrupt() { interruptRequested = false; }

int ExitStatusOf(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Succeeded: return ExitSuccess;
    case RunOutcome::Failed: return ExitFailure;
    case RunOutcome::Stopped: return ExitStopped;
    }
    return ExitFailure;
}

RunOutcome Worse(RunOutcome a, RunOutcome b) { return static_cast<int>(a) > static_cast<int>(b) ? a : b; }

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a prompt waiting for input returns
    sigaction(SIGINT, &action, nullptr);
}

char ParseDriveLetter(const std::string& text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
    std::string rest = text.substr(1);
    if (!(rest.empty() || rest == ":" || rest == ":\\" || rest == ":/")) return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
}

std::string HumanSize(unsigned long long bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.1f %s", value, units[unit]);
    return text;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ParsedLine parsed = Parse(args);
    if (!parsed.error.empty()) {
        err << "tranquo-cli: " << parsed.error << "\n\n";
        PrintUsage(err);
        return ExitUsage;
    }
    if (!parsed.words.empty() && parsed.words.front() == "help") {
        parsed.help = true;
        parsed.words.erase(parsed.words.begin());
    }
    if (parsed.words.empty()) {
        PrintUsage(parsed.help ? out : err);
        return parsed.help ? ExitSuccess : ExitUsage;
    }
    const CommandInfo* command = FindCommand(parsed.words.front());
    if (!command) {
        err << "tranquo-cli: unknown command '" << parsed.words.front() << "'\n\n";
        PrintUsage(err);
        return ExitUsage;
    }
    if (parsed.help) {
        PrintCommandUsage(*command, out);
        return ExitSuccess;
    }

    for (const std::string& image : parsed.options.attach) {
        std::string error;
        if (platform::AttachImage(image, &error).empty()) {
            err << "tranquo-cli: cannot attach " << error << "\n";
            return ExitFailure;
        }
    }

    platform::ConsoleUi::Options uiOptions;
    uiOptions.assumeYes = parsed.options.assumeYes;
    uiOptions.quiet = parsed.options.quiet;
    platform::ConsoleUi ui(uiOptions);
    Context context{ui, parsed.options, out, err, {}};
    InterruptPump pump(context);
    ui.onPump = [&pump] { pump(); };
    platform::ScopedUi installed(ui);

    std::vector<std::string> commandArgs(parsed.words.begin() + 1, parsed.words.end());
    int status = command->run(commandArgs, context);
    interruptArmed = 0;
    out.flush();
    return status;
}

} // namespace cli
