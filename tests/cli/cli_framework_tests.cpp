// tranquo-cli's command line: global options, dispatch, usage errors and
// the drives command.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/DeepScanStage.h"
#include "platform/drives.h"
#include "tests/platform/drives_test_support.h"

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = cli::RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TRANQUO_ATTACH");
        platform::ResetDrives();
    }
    void TearDown() override { platform::ResetDrives(); }
    drivetest::TempFolder temp;
};

TEST_F(CliTest, BadUsageExitsWithTwoAndShowsTheUsage) {
    CliRun none = Cli({});
    EXPECT_EQ(none.status, cli::ExitUsage);
    EXPECT_NE(none.err.find("Usage: tranquo-cli"), std::string::npos);

    CliRun unknown = Cli({"frobnicate"});
    EXPECT_EQ(unknown.status, cli::ExitUsage);
    EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos);
    EXPECT_NE(unknown.err.find("drives"), std::string::npos); // the command list

    CliRun bogus = Cli({"--bogus", "drives"});
    EXPECT_EQ(bogus.status, cli::ExitUsage);
    EXPECT_NE(bogus.err.find("unknown option '--bogus'"), std::string::npos) << bogus.err;
    EXPECT_EQ(Cli({"drives", "--attach"}).status, cli::ExitUsage);
    CliRun extra = Cli({"drives", "extra"});
    EXPECT_EQ(extra.status, cli::ExitUsage);
    EXPECT_NE(extra.err.find("tranquo-cli drives: unexpected argument 'extra'"), std::string::npos) << extra.err;
    EXPECT_EQ(Cli({"help", "frobnicate"}).status, cli::ExitUsage);
    EXPECT_EQ(Cli({"recover", "--sectors-at-once", "0"}).status, cli::ExitUsage);
    EXPECT_EQ(Cli({"recover", "--retries", "2x"}).status, cli::ExitUsage);
    CliRun both = Cli({"recover", "--turbo-only", "--deep-only"});
    EXPECT_EQ(both.status, cli::ExitUsage);
    EXPECT_NE(both.err.find("--turbo-only excludes --deep-only"), std::string::npos) << both.err;
}

TEST_F(CliTest, HelpDescribesEveryOptionAndVersionPrintsTheVersion) {
    CliRun help = Cli({"--help"});
    EXPECT_EQ(help.status, cli::ExitSuccess);
    EXPECT_NE(help.out.find("--attach IMAGE"), std::string::npos);
    EXPECT_NE(help.out.find("recover"), std::string::npos);
    // help COMMAND and COMMAND --help say the same: every option, described.
    for (const auto& args : {std::vector<std::string>{"help", "recover"}, std::vector<std::string>{"recover", "--help"}}) {
        CliRun commandHelp = Cli(args);
        EXPECT_EQ(commandHelp.status, cli::ExitSuccess);
        for (const char* option : {"--drive D", "--dest DIR", "--turbo-only", "--deep-only", "--sectors-at-once N",
                                   "--retries N", "--prefix TEXT", "--delete-earlier", "--keep-folders",
                                   "--report PATH"})
            EXPECT_NE(commandHelp.out.find(option), std::string::npos) << option << "\n" << commandHelp.out;
        EXPECT_NE(commandHelp.out.find("1 to 32767"), std::string::npos);
    }
    CliRun version = Cli({"drives", "--version"});
    EXPECT_EQ(version.status, cli::ExitSuccess);
    EXPECT_EQ(version.out.rfind("tranquo-cli ", 0), 0u) << version.out;
}

TEST_F(CliTest, DrivesListsAttachedImagesWithTypeAndCapacity) {
    std::string card = temp.File("card.img");
    drivetest::MakeImage(card, 64 << 20, drivetest::FatBootSector());
    std::string disk = temp.File("disk.img");
    drivetest::MakeImage(disk, 4 << 20, drivetest::MbrSector({{0x0C, 2048, 4096}}));

    // Global options are taken before and after the command.
    CliRun run = Cli({"--attach", card, "drives", "--attach=" + disk});
    ASSERT_EQ(run.status, cli::ExitSuccess) << run.err;
    EXPECT_NE(run.out.find("C:     Fixed"), std::string::npos) << run.out;
    std::string cardLine = run.out.substr(run.out.find("Removable  64.0 MiB"));
    EXPECT_NE(cardLine.find("(67108864 bytes)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(std::filesystem::canonical(card).string()), std::string::npos);
    EXPECT_NE(run.out.find("2.00 MiB (2097152 bytes)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("partition 1 at byte 1048576"), std::string::npos) << run.out;

    CliRun removable = Cli({"drives", "--removable"});
    EXPECT_EQ(removable.out.find("Fixed"), std::string::npos);
}

TEST_F(CliTest, AnImageThatCannotBeAttachedFails) {
    CliRun run = Cli({"--attach", temp.File("missing.img"), "drives"});
    EXPECT_EQ(run.status, cli::ExitFailure);
    EXPECT_NE(run.err.find("cannot attach"), std::string::npos);
    EXPECT_NE(run.err.find("missing.img"), std::string::npos);
    EXPECT_TRUE(run.out.empty());
}

int RunProbe(const std::vector<std::string>& args, cli::Context& context) {
    EXPECT_EQ(context.commandLine, "tranquo-cli -q probe D: --yes E:");
    context.out << "args:";
    for (const auto& arg : args) context.out << " " << arg;
    context.out << "\n";
    // The command's console is the process's user interface while it runs.
    int answer = platform::MsgBox("Write to the card?", platform::vbYesNo | platform::vbQuestion, "probe");
    context.out << (answer == platform::IDYES ? "yes" : "no") << (context.options.quiet ? " quiet" : "") << "\n";
    bool stopped = false;
    context.OnInterrupt([&] { stopped = true; });
    std::raise(SIGINT);
    platform::DoEvents();
    platform::DoEvents();
    context.out << (stopped ? "stopped" : "running") << "\n";
    return 7;
}

cli::CommandRun DefineProbe(CLI::App& command) {
    auto args = std::make_shared<std::vector<std::string>>();
    command.add_option("ARGS", *args);
    return [args](cli::Context& context) { return RunProbe(*args, context); };
}

cli::CommandRegistration probe({"probe", "a command for the tests", DefineProbe});

TEST_F(CliTest, CommandsGetTheirArgumentsTheOptionsAndCtrlC) {
    cli::InstallInterruptHandler();
    cli::ClearInterrupt();
    CliRun run = Cli({"-q", "probe", "D:", "--yes", "E:"});
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_EQ(run.out, "args: D: E:\nyes quiet\nstopped\n");
    EXPECT_TRUE(cli::InterruptRequested());
    cli::ClearInterrupt();
    std::signal(SIGINT, SIG_DFL);
}

TEST(CliInterrupt, CtrlCEndsAtOnceWhenNothingCanBeStoppedGently) {
    EXPECT_EXIT(
        {
            cli::InstallInterruptHandler();
            std::raise(SIGINT);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

TEST(CliHelpers, DriveLettersAndSizes) {
    EXPECT_EQ(cli::ParseDriveLetter("d:"), 'D');
    EXPECT_EQ(cli::ParseDriveLetter("E"), 'E');
    EXPECT_EQ(cli::ParseDriveLetter("F:\\"), 'F');
    EXPECT_EQ(cli::ParseDriveLetter("card.img"), 0);
    EXPECT_EQ(cli::ParseDriveLetter(""), 0);
    EXPECT_EQ(cli::HumanSize(512), "512 bytes");
    EXPECT_EQ(cli::HumanSize(64ull << 20), "64.0 MiB");
    EXPECT_EQ(cli::HumanSize(2045440ull * 1024), "1.95 GiB");
}

} // namespace

namespace {

// The deep scan's question replaces an earlier result: --yes never answers
// it Yes. Other boxes reach the console as they are.
TEST(DeepScanUiTest, YesNeverReplacesAFile) {
    std::FILE* sink = std::tmpfile();
    platform::ConsoleUi::Options options;
    options.assumeYes = true;
    options.output = sink;
    options.terminal = 0;
    platform::ConsoleUi console(options);
    std::ostringstream err;
    cli::DeepScanUi ui(console, true, err);
    EXPECT_EQ(ui.MessageBox("replace?", platform::vbYesNo | platform::vbDefaultButton2, "T"), platform::IDNO);
    EXPECT_NE(err.str().find("replace?"), std::string::npos);
    EXPECT_EQ(ui.MessageBox("go on?", platform::vbYesNo, "T"), platform::IDYES);
    EXPECT_EQ(ui.MessageBox("note", platform::vbOKOnly, "T"), platform::IDOK);
    std::fclose(sink);
}

} // namespace
