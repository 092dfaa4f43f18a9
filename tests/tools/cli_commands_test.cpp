// tranquo-cli backup, restore and erase on attached card images: exit
// status, the questions without a terminal, and the refusals.
#include <sstream>

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

} // namespace
