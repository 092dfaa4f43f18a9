#include "cli/Command.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <map>
#include <ostream>

#include "cli/CommandOptions.h"
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

constexpr const char* Description =
    "Brings back photos, videos and sound files from FAT memory cards.\n"
    "Drives: C: is the root file system; card readers, cameras and phones get\n"
    "D:, E:, ...; --attach (or TRANQUO_ATTACH, paths separated by ':') makes\n"
    "card image files drives too.\n";

constexpr const char* Footer =
    "Exit status: 0 success, 1 failure, 2 bad usage, 130 stopped by Ctrl-C.\n"
    "'tranquo-cli help COMMAND' or 'tranquo-cli COMMAND --help' describes a command's options.";

constexpr const char* CommandFooter =
    "The global options --attach IMAGE, --yes and --quiet may stand before or after the command\n"
    "(see tranquo-cli --help).";

// The whole command line: the global options, each registered command with
// its options, and `help`. The runs the commands' definitions returned are
// kept by subcommand.
class CommandLine {
public:
    CommandLine() : app_(Description, "tranquo-cli") {
        app_.formatter(HelpLayout());
        // An option given twice counts once, with its last value (a script's
        // default, then the user's own).
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app_.footer(Footer);
        app_.require_subcommand(0, 1);
        // Words no command takes are collected and reported by RunCli, naming
        // what they are (an unknown command, option or argument).
        app_.allow_extras();
        app_.set_help_flag("-h,--help", "this text; 'tranquo-cli help COMMAND' for one command's options");
        app_.set_version_flag("--version", "tranquo-cli " TRANQUO_VERSION, "print the version");
        app_.add_option("--attach", options_.attach, "attach a card image file as a drive (repeatable)")
            ->type_name("IMAGE")
            ->check(NotEmpty());
        app_.add_flag("-y,--yes", options_.assumeYes,
                      "answer Yes to every question (needed to write without a terminal)");
        app_.add_flag("-q,--quiet", options_.quiet, "print only warnings, errors, questions and results");
        for (const CommandInfo& info : Commands()) {
            CLI::App* command = Subcommand(info.name, info.summary);
            runs_[command] = info.define(*command);
        }
        help_ = Subcommand("help", "describe the program, or one command and its options");
        help_->add_option("COMMAND", helpTopic_, "the command to describe");
    }

    CLI::App& App() { return app_; }
    const GlobalOptions& Options() const { return options_; }

    // The command the line names (nullptr for none, or for `help`).
    CLI::App* Chosen() const {
        for (CLI::App* command : app_.get_subcommands())
            if (command != help_) return command;
        return nullptr;
    }
    bool HelpAsked() const { return help_->parsed(); }
    const std::string& HelpTopic() const { return helpTopic_; }
    CommandRun RunOf(CLI::App* command) const { return runs_.at(command); }

    std::string ProgramHelp() const {
        return app_.get_formatter()->make_help(&app_, "tranquo-cli", CLI::AppFormatMode::Normal);
    }
    // nullptr when no command has that name.
    const CLI::App* Command(const std::string& name) const {
        for (const CLI::App* command : app_.get_subcommands({}))
            if (command->get_name() == name && command != help_) return command;
        return nullptr;
    }

private:
    CLI::App* Subcommand(const std::string& name, const std::string& summary) {
        CLI::App* command = app_.add_subcommand(name, summary);
        command->group("Commands");
        command->fallthrough(); // the global options after the command
        command->allow_extras(false); // what it does not take goes up, to be reported there
        command->set_help_flag("-h,--help", "this text");
        command->footer(CommandFooter);
        return command;
    }

    CLI::App app_;
    GlobalOptions options_;
    std::map<const CLI::App*, CommandRun> runs_;
    CLI::App* help_ = nullptr;
    std::string helpTopic_;
};

// A usage error: the problem, then where to read more; exit status 2.
int Usage(const CommandLine& line, const CLI::App* command, const std::string& problem, std::ostream& err) {
    if (command) {
        err << "tranquo-cli " << command->get_name() << ": " << problem << "\n"
            << "Run 'tranquo-cli help " << command->get_name() << "' to see its options.\n";
    } else {
        err << "tranquo-cli: " << problem << "\n\n" << line.ProgramHelp();
    }
    return ExitUsage;
}

// Words that neither a command nor the global options took.
std::string LeftOverProblem(const std::string& word, bool commandChosen) {
    if (word.size() > 1 && word[0] == '-') return "unknown option '" + word + "'";
    if (!commandChosen) return "unknown command '" + word + "'";
    return "unexpected argument '" + word + "'";
}

int ShowHelp(const CommandLine& line, std::ostream& out, std::ostream& err) {
    if (line.HelpTopic().empty()) {
        out << line.ProgramHelp();
        return ExitSuccess;
    }
    const CLI::App* command = line.Command(line.HelpTopic());
    if (!command) return Usage(line, nullptr, "unknown command '" + line.HelpTopic() + "'", err);
    out << command->help("tranquo-cli");
    return ExitSuccess;
}

std::string Joined(const std::vector<std::string>& args) {
    std::string text = "tranquo-cli";
    for (const std::string& arg : args) text += " " + arg;
    return text;
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
    CommandLine line;
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes the words last first
    try {
        line.App().parse(reversed);
    } catch (const CLI::CallForHelp&) {
        const CLI::App* command = line.Chosen();
        out << (command ? command->help("tranquo-cli") : line.ProgramHelp());
        return ExitSuccess;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << "\n";
        return ExitSuccess;
    } catch (const CLI::ParseError& error) {
        return Usage(line, line.Chosen(), error.what(), err);
    }
    CLI::App* command = line.Chosen();
    if (const std::vector<std::string> left = line.App().remaining(true); !left.empty())
        return Usage(line, command, LeftOverProblem(left.front(), command != nullptr), err);
    if (line.HelpAsked()) return ShowHelp(line, out, err);
    if (!command) {
        err << line.ProgramHelp();
        return ExitUsage;
    }

    for (const std::string& image : line.Options().attach) {
        std::string error;
        if (platform::AttachImage(image, &error).empty()) {
            err << "tranquo-cli: cannot attach " << error << "\n";
            return ExitFailure;
        }
    }

    platform::ConsoleUi::Options uiOptions;
    uiOptions.assumeYes = line.Options().assumeYes;
    uiOptions.quiet = line.Options().quiet;
    platform::ConsoleUi ui(uiOptions);
    Context context{ui, line.Options(), Joined(args), out, err, {}};
    InterruptPump pump(context);
    ui.onPump = [&pump] { pump(); };
    platform::ScopedUi installed(ui);

    int status = line.RunOf(command)(context);
    interruptArmed = 0;
    out.flush();
    return status;
}

} // namespace cli
