// tranquo-cli backup, restore and erase on attached card images: exit
// status, the questions without a terminal, and the refusals.
#include <csignal>
#include <cstdio>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>

#include "ToolFixture.h"
#include "cli/Command.h"

namespace {

using namespace testing_tools;

struct CliRun {
    int status;
    std::string err;
};

class ToolCommandsTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        platform::SetUi(nullptr); // the command line installs its console
        ::unsetenv("TRANQUO_ATTACH");
        card = CardBytes(3001, 32);
        cardPath = WriteFile("card.img", card);
    }

    CliRun Cli(std::vector<std::string> args) {
        std::ostringstream out, err;
        int status = cli::RunCli(args, out, err);
        engine::ResetDriveTable();
        platform::ResetDrives();
        return {status, err.str()};
    }

    std::vector<std::uint8_t> card;
    std::string cardPath;
};

TEST_F(ToolCommandsTest, BackupThenRestoreRoundTrips) {
    REQUIRE_EXTRA_LONG();
    // An image whose size is not a whole number of sectors: the backup
    // holds every byte, and so restores onto the card it came from.
    card.resize(card.size() + 300, 0x3C);
    WriteFile("card.img", card);
    std::string image = folder + "/backup.img";
    CliRun backup = Cli({"--attach", cardPath, "backup", "--drive", "D", "--to", image});
    ASSERT_EQ(backup.status, cli::ExitSuccess) << backup.err;
    EXPECT_EQ(ReadFile(image), card);

    // Change the card's data (the boot sector must stay: restore needs a FAT
    // card), then put the image back.
    auto changed = card;
    std::fill(changed.begin() + 512, changed.end(), 0x77);
    WriteFile("card.img", changed);
    CliRun restore = Cli({"--attach", cardPath, "--yes", "restore", "--drive", "D", "--from", image});
    ASSERT_EQ(restore.status, cli::ExitSuccess) << restore.err;
    EXPECT_EQ(ReadFile(cardPath), card);
}

TEST_F(ToolCommandsTest, WithoutYesAndWithoutTerminalNothingIsWritten) {
    REQUIRE_EXTRA_LONG();
    std::string image = WriteFile("other.img", std::vector<std::uint8_t>(card.size(), 0x11));
    CliRun restore = Cli({"--attach", cardPath, "restore", "--drive", "D", "--from", image});
    EXPECT_EQ(restore.status, cli::ExitFailure);
    EXPECT_NE(restore.err.find("nothing was written"), std::string::npos) << restore.err;
    CliRun erase = Cli({"--attach", cardPath, "erase", "--drive", "D"});
    EXPECT_EQ(erase.status, cli::ExitFailure);
    EXPECT_NE(erase.err.find("nothing was written"), std::string::npos) << erase.err;
    EXPECT_EQ(ReadFile(cardPath), card);
}

TEST_F(ToolCommandsTest, EraseKeepsTheReservedArea) {
    REQUIRE_EXTRA_LONG();
    CliRun erase = Cli({"--attach", cardPath, "--yes", "erase", "--drive", "D"});
    ASSERT_EQ(erase.status, cli::ExitSuccess) << erase.err;
    auto after = ReadFile(cardPath);
    ASSERT_EQ(after.size(), card.size());
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 16384, card.begin()));
    EXPECT_TRUE(std::all_of(after.begin() + 16384, after.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(ToolCommandsTest, TheSystemDriveIsRefusedBeforeAnyQuestion) {
    CliRun erase = Cli({"--yes", "erase", "--drive", "C"});
    EXPECT_EQ(erase.status, cli::ExitFailure);
    EXPECT_NE(erase.err.find("C: is not a removable drive"), std::string::npos) << erase.err;
    EXPECT_EQ(erase.err.find(T(231)), std::string::npos);
}

TEST_F(ToolCommandsTest, AMountedCardIsRefusedWithItsReason) {
    auto mounted = MemoryCard(3000);
    mounted->refuseWrites = true;
    std::string letter(1, platform::AttachVolume(mounted, "mounted card"));
    CliRun erase = Cli({"--yes", "erase", "--drive", letter});
    EXPECT_EQ(erase.status, cli::ExitFailure);
    EXPECT_NE(erase.err.find("is in use (its file system is mounted)"), std::string::npos) << erase.err;
    EXPECT_EQ(mounted->writes, 0);
}

TEST_F(ToolCommandsTest, BadUsageExitsWithTwo) {
    EXPECT_EQ(Cli({"backup", "--drive", "D"}).status, cli::ExitUsage);
    EXPECT_EQ(Cli({"backup", "--to", "x.img"}).status, cli::ExitUsage);
    EXPECT_EQ(Cli({"restore", "--drive", "D:", "--from"}).status, cli::ExitUsage);
    EXPECT_EQ(Cli({"erase", "--drive", "DD"}).status, cli::ExitUsage);
    EXPECT_EQ(Cli({"erase", "--drive", "D", "extra"}).status, cli::ExitUsage);
    CliRun missing = Cli({"backup", "--drive", "Q", "--to", folder + "/x.img"});
    EXPECT_EQ(missing.status, cli::ExitFailure);
    EXPECT_NE(missing.err.find("no drive Q:"), std::string::npos);
}

// tranquo-cli run as its own process with a terminal as its input, the
// user typing typed.
CliRun CliOnTerminal(const std::vector<std::string>& args, const std::string& typed) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {-1, "no terminal"};
    std::string program = std::string(TRANQUO_TEST_PROGRAM_DIR) + "/tranquo-cli";
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies(args);
    for (auto& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        setsid();
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(slave, 2);
        close(master);
        close(slave);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(slave);
    if (::write(master, typed.data(), typed.size()) < 0) return {-1, "cannot type"};
    std::string output;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(master, chunk, sizeof chunk)) > 0) output.append(chunk, static_cast<std::size_t>(n));
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
}

TEST_F(ToolCommandsTest, EnterAloneAnswersNoToEveryQuestionThatWrites) {
    REQUIRE_EXTRA_LONG();
    std::string image = WriteFile("other.img", std::vector<std::uint8_t>(card.size(), 0x11));
    for (const auto& args : {std::vector<std::string>{"--attach", cardPath, "erase", "--drive", "D"},
                             std::vector<std::string>{"--attach", cardPath, "restore", "--drive", "D", "--from", image}}) {
        SCOPED_TRACE(args[2]);
        CliRun run = CliOnTerminal(args, "\n");
        EXPECT_EQ(run.status, cli::ExitFailure) << run.err;
        EXPECT_NE(run.err.find("[No]"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("nothing was written"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(cardPath), card);
    }
}

// Ctrl-C in the middle of a transfer, delivered by the card itself when the
// transfer reaches an offset.
class InterruptedToolTest : public ToolCommandsTest {
protected:
    void SetUp() override {
        ToolCommandsTest::SetUp();
        cli::InstallInterruptHandler();
    }
    void TearDown() override {
        std::signal(SIGINT, SIG_DFL);
        cli::ClearInterrupt();
        ToolCommandsTest::TearDown();
    }
    std::string AttachInterrupting(std::shared_ptr<MemoryVolume> volume, std::uint64_t at) {
        volume->interruptFrom = at;
        return std::string(1, platform::AttachVolume(volume, "card"));
    }
};

TEST_F(InterruptedToolTest, RestoreAndEraseStopAtTheNextBlockAndSayHowFarTheyGot) {
    REQUIRE_EXTRA_LONG();
    std::string image = WriteFile("other.img", std::vector<std::uint8_t>(3001 * 512, 0x11));
    struct Case {
        std::vector<std::string> args;
        std::uint64_t at;
        int blocksWritten;
        std::string report;
    };
    // Blocks of 15360 bytes; erase starts after the 16384 reserved bytes.
    std::vector<Case> cases = {
        {{"--yes", "restore", "--from", image}, 2 * 15360, 3, "partly overwritten: 45 of "},
        {{"--yes", "erase"}, 16384 + 15360, 2, "partly overwritten: 30 of "},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        auto volume = MemoryCard(3001, 32);
        c.args.insert(c.args.begin() + 2, {"--drive", AttachInterrupting(volume, c.at)});
        testing::internal::CaptureStderr(); // where the console shows its boxes
        CliRun run = Cli(c.args);
        std::string boxes = testing::internal::GetCapturedStderr();
        EXPECT_EQ(run.status, cli::ExitStopped) << run.err;
        EXPECT_EQ(volume->writes, c.blocksWritten);
        EXPECT_NE(boxes.find(c.report), std::string::npos) << boxes;
        cli::ClearInterrupt();
        cli::InstallInterruptHandler();
    }
}

TEST_F(InterruptedToolTest, AStoppedBackupLeavesNoImage) {
    REQUIRE_EXTRA_LONG();
    auto volume = MemoryCard(3001);
    std::string target = folder + "/backup.img";
    testing::internal::CaptureStderr();
    CliRun run = Cli({"backup", "--drive", AttachInterrupting(volume, 10 * 15360), "--to", target});
    std::string boxes = testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.status, cli::ExitStopped) << run.err;
    EXPECT_NE(boxes.find("unfinished image was removed"), std::string::npos) << boxes;
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(ToolCommandsTest, BackupNeverWritesThroughALinkOrOverAFile) {
    REQUIRE_EXTRA_LONG();
    std::string existing = WriteFile("existing.img", {'k', 'e', 'e', 'p'});
    std::filesystem::create_symlink(folder + "/nowhere.img", folder + "/dangling.img");
    std::filesystem::create_symlink(existing, folder + "/link.img");
    for (const char* name : {"dangling.img", "link.img", "existing.img"}) {
        SCOPED_TRACE(name);
        CliRun run = Cli({"--attach", cardPath, "backup", "--drive", "D", "--to", folder + "/" + name});
        EXPECT_EQ(run.status, cli::ExitFailure) << run.err;
        EXPECT_NE(run.err.find("nothing was written"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/nowhere.img"));
    EXPECT_EQ(ReadFile(existing), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(ToolCommandsTest, WithoutTheLanguageFolderTheQuestionsKeepTheirWords) {
    std::string programFolder = shell::frmPasser().txtAppPath;
    shell::frmPasser().txtAppPath = folder; // no Language folder here
    shell::frmPasser().LANG[231] = "";
    testing::internal::CaptureStderr();
    CliRun erase = Cli({"--attach", cardPath, "erase", "--drive", "D"});
    std::string boxes = testing::internal::GetCapturedStderr();
    shell::frmPasser().txtAppPath = programFolder;
    EXPECT_EQ(erase.status, cli::ExitFailure);
    EXPECT_NE(boxes.find("Secure erase overwrites everything"), std::string::npos) << boxes;
    EXPECT_EQ(ReadFile(cardPath), card);
}

TEST_F(ToolCommandsTest, AnImageBehindALoopDeviceIsRefusedForWriting) {
    FILE* losetup = popen(("losetup --find --show " + cardPath + " 2>/dev/null").c_str(), "r");
    char name[64] = {};
    bool attached = losetup && std::fgets(name, sizeof name, losetup);
    if (losetup) pclose(losetup);
    if (!attached || std::string(name).rfind("/dev/loop", 0) != 0) GTEST_SKIP() << "no loop devices here";
    std::string loop(name, std::strcspn(name, "\n"));
    CliRun erase = Cli({"--attach", cardPath, "--yes", "erase", "--drive", "D"});
    CliRun restore = Cli({"--attach", cardPath, "--yes", "restore", "--drive", "D", "--from", cardPath});
    std::system(("losetup -d " + loop).c_str());
    for (const CliRun& run : {erase, restore}) {
        EXPECT_EQ(run.status, cli::ExitFailure);
        EXPECT_NE(run.err.find(loop), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(cardPath), card);
}

} // namespace
