// Backup of a card to an image file: the copy itself and every way it stops.
#include <sys/statvfs.h>

#include "ToolFixture.h"

namespace {

using namespace testing_tools;

class BackupTest : public ToolTest {};

TEST_F(BackupTest, ImageOfAnImageDriveIsByteIdentical) {
    REQUIRE_EXTRA_LONG();
    // 3001 sectors: blocks of 30 sectors, the last block one sector.
    auto card = CardBytes(3001);
    engine::DriveNumber drive = AttachFile(WriteFile("card.img", card));
    std::string target = folder + "/backup.img";
    ui.QueueFileAnswer(target);

    tools::BackupDevice(drive);

    EXPECT_EQ(ReadFile(target), card);
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{T(250)});
    EXPECT_EQ(LastBox().style, platform::vbInformation);
    EXPECT_EQ(LastBox().title, T(232));
    ASSERT_EQ(ui.dialogs.size(), 1u);
    EXPECT_EQ(ui.dialogs[0].prompt, T(242));
    EXPECT_EQ(ui.dialogs[0].flags, 0x8006u);
    EXPECT_TRUE(ui.dialogs[0].save);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Succeeded);
    EXPECT_EQ(window.handedBack, 1);
    // About twenty yields over the run, not one per sector and not none.
    EXPECT_GE(ui.pumpCount, 15);
    EXPECT_LE(ui.pumpCount, 30);
}

TEST_F(BackupTest, RefusalsComeBeforeAnyFileIsChosen) {
    struct Case {
        const char* what;
        std::shared_ptr<MemoryVolume> card;
        int message;
    };
    auto blank = std::make_shared<MemoryVolume>(4096 * 512); // no boot sector at all
    std::vector<Case> cases = {
        {"unformatted card", blank, 233},
        {"card smaller than 100 sectors", MemoryCard(40, 1, 1), 235},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui.boxes.clear();
        window.handedBack = 0;
        tools::BackupDevice(Attach(c.card));
        ASSERT_FALSE(ui.boxes.empty());
        EXPECT_EQ(LastBox().text, T(c.message));
        EXPECT_EQ(LastBox().style, platform::vbExclamation);
        EXPECT_TRUE(ui.dialogs.empty());
        EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
        EXPECT_EQ(window.handedBack, 1);
    }
}

TEST_F(BackupTest, AnExistingFileIsNeverOverwritten) {
    REQUIRE_EXTRA_LONG();
    engine::DriveNumber drive = Attach(MemoryCard(3000));
    std::string existing = WriteFile("existing.img", {'k', 'e', 'e', 'p'});
    ui.QueueFileAnswer(existing); // then the dialog is cancelled

    tools::BackupDevice(drive);

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{T(244)});
    EXPECT_EQ(LastBox().style, platform::vbInformation);
    EXPECT_EQ(ui.dialogs.size(), 2u);
    EXPECT_EQ(ReadFile(existing), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Cancelled);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(BackupTest, NotEnoughFreeSpaceCreatesNoFile) {
    REQUIRE_EXTRA_LONG();
    // A card of 900 GiB held as a sparse file: more than this disk has free.
    constexpr std::uint64_t terabyte = 900ull << 30;
    struct statvfs info {};
    ASSERT_EQ(statvfs(folder.c_str(), &info), 0);
    if (static_cast<double>(info.f_bavail) * info.f_frsize >= static_cast<double>(terabyte))
        GTEST_SKIP() << "the test folder has 900 GiB free";
    std::string path = WriteFile("huge.img", CardBytes(64));
    std::filesystem::resize_file(path, terabyte);
    engine::DriveNumber drive = AttachFile(path);
    std::string target = folder + "/backup.img";
    ui.QueueFileAnswer(target);

    tools::BackupDevice(drive);

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{T(245)});
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(BackupTest, ReadFailureHalfWayReportsSectorsAndShare) {
    REQUIRE_EXTRA_LONG();
    auto card = MemoryCard(3000); // 100 blocks of 30 sectors
    card->failReadsFrom = 1500ull * 512 + 1;
    engine::DriveNumber drive = Attach(card);
    std::string target = folder + "/backup.img";
    ui.QueueFileAnswer(target);

    tools::BackupDevice(drive);

    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(LastBox().text, T(248) + "\r\n" + T(251) + " 1500 " + T(252) + " 3000 " + T(253) + " (50%)");
    EXPECT_EQ(LastBox().style, platform::vbExclamation);
    // What was copied stays on disk, closed.
    auto partial = ReadFile(target);
    ASSERT_EQ(partial.size(), 1500u * 512);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), card->Bytes().begin()));
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(BackupTest, CardsOfTwoGiBAndMoreAreCopiedWhole) {
    REQUIRE_EXTRA_LONG();
    constexpr std::uint64_t size = (2ull << 30) + (1 << 20);
    auto card = std::make_shared<MemoryVolume>(size, 512, 1 << 20);
    auto head = CardBytes(2048);
    std::copy(head.begin(), head.end(), card->Bytes().begin());
    engine::DriveNumber drive = Attach(card);
    std::string target = folder + "/big.img";
    ui.QueueFileAnswer(target);

    tools::BackupDevice(drive);

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{T(250)});
    EXPECT_EQ(std::filesystem::file_size(target), size);
    std::ifstream in(target, std::ios::binary);
    std::vector<std::uint8_t> first(head.size());
    in.read(reinterpret_cast<char*>(first.data()), first.size());
    EXPECT_EQ(first, head);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Succeeded);
}

} // namespace

namespace {

using namespace testing_tools;

TEST_F(BackupTest, ACardBeyondThirtyTwoBitSectorNumbersIsRefusedNotFatal) {
    // 2^31 sectors and more cannot be named by the sector reads.
    std::string path = WriteFile("vast.img", CardBytes(64));
    std::filesystem::resize_file(path, 2ull << 40);
    engine::DriveNumber drive = AttachFile(path);

    tools::BackupDevice(drive);

    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(LastBox().text, T(233));
    EXPECT_TRUE(ui.dialogs.empty());
    EXPECT_EQ(window.handedBack, 1);
}

} // namespace
