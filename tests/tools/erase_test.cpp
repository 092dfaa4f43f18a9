// Secure erase: zeros after the reserved area, the reserved area kept.
#include <algorithm>

#include "ToolFixture.h"

namespace {

using namespace testing_tools;

class EraseTest : public ToolTest {};

TEST_F(EraseTest, ZeroesEverythingAfterTheReservedArea) {
    REQUIRE_EXTRA_LONG();
    auto card = MemoryCard(3001, 32); // 512 x 32: the first 16384 bytes stay
    auto before = card->Bytes();
    engine::DriveNumber drive = Attach(card);
    ui.QueueAnswer(platform::IDYES);

    EXPECT_EQ(tools::SecureEraseDevice(drive, support::False), support::True);

    const auto& after = card->Bytes();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 16384, before.begin()));
    EXPECT_TRUE(std::all_of(after.begin() + 16384, after.end(), [](std::uint8_t b) { return b == 0; }));
    // Blocks of 15360 bytes from 16384 on; the last one covers what is left.
    EXPECT_EQ(card->lastWriteOffset + card->lastWriteCount, after.size());
    EXPECT_EQ(card->lastWriteCount, (after.size() - 16384) % 15360);
    ASSERT_EQ(BoxTexts(), (std::vector<std::string>{T(231), T(240)}));
    // Zeroing cannot be undone: the default button is No.
    EXPECT_EQ(ui.boxes[0].style, platform::vbYesNo | platform::vbExclamation | platform::vbDefaultButton2);
    EXPECT_EQ(LastBox().style, platform::vbInformation);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Succeeded);
    EXPECT_EQ(window.handedBack, 1);
    EXPECT_EQ(engine::DriveTableEntry(drive).Handle, nullptr);
}

TEST_F(EraseTest, NoAtTheQuestionOpensNothing) {
    auto card = MemoryCard(3000);
    auto before = card->Bytes();
    engine::DriveNumber drive = Attach(card);
    ui.QueueAnswer(platform::IDNO);

    EXPECT_EQ(tools::SecureEraseDevice(drive, support::False), support::False);

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{T(231)});
    EXPECT_EQ(card->reads, 0);
    EXPECT_EQ(card->writeSessions, 0);
    EXPECT_EQ(card->Bytes(), before);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Cancelled);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(EraseTest, AFailedWriteReportsTheOffsetReached) {
    REQUIRE_EXTRA_LONG();
    auto card = MemoryCard(3000, 32);
    card->failWritesFrom = 16384 + 15360; // the second block fails
    engine::DriveNumber drive = Attach(card);

    EXPECT_EQ(tools::SecureEraseDevice(drive, support::True), support::False);

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(LastBox().text, "WriteFile call failed. Error code=" + std::to_string(ERROR_WRITE_FAULT) + ": write fault" + "\r\n" +
                                  T(236) + " 31744 " + T(237) + " 1536000 " + T(238) + " (2.07%)");
    EXPECT_EQ(LastBox().style, platform::vbExclamation);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(EraseTest, RefusalsWriteNothing) {
    auto mounted = MemoryCard(3000);
    mounted->refuseWrites = true;
    auto tiny = MemoryCard(40, 1, 1);
    auto blank = std::make_shared<MemoryVolume>(4096 * 512);
    struct Case {
        const char* what;
        std::shared_ptr<MemoryVolume> card;
        std::string message;
    };
    std::vector<Case> cases = {
        {"mounted", mounted, "Cannot open the drive for writing. Error code " + std::to_string(ERROR_SHARING_VIOLATION) + ": the device is in use"},
        {"too small", tiny, T(235)},
        {"unformatted", blank, T(233)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui.boxes.clear();
        window.handedBack = 0;
        if (std::string(c.what) == "mounted") {
            try {
                engine::SharedExtraLong();
            } catch (const support::RuntimeError&) {
                continue; // reaching the open needs the library
            }
        }
        EXPECT_EQ(tools::SecureEraseDevice(Attach(c.card), support::True), support::False);
        ASSERT_FALSE(ui.boxes.empty());
        EXPECT_EQ(LastBox().text, c.message);
        EXPECT_EQ(LastBox().style, platform::vbExclamation);
        EXPECT_EQ(c.card->writes, 0);
        EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
        EXPECT_EQ(window.handedBack, 1);
    }
}

TEST_F(EraseTest, AReservedAreaBeyondTheCardIsRefusedNotReportedAsErased) {
    REQUIRE_EXTRA_LONG();
    // A damaged boot sector: 4000 reserved sectors on a card of 3000.
    auto card = std::make_shared<MemoryVolume>(3000 * 512);
    card->Bytes().assign(3000 * 512, 0xAB);
    const auto boot = BootSector(60000, 4000);
    std::copy(boot.begin(), boot.end(), card->Bytes().begin());
    engine::DriveNumber drive = Attach(card);

    EXPECT_EQ(tools::SecureEraseDevice(drive, support::True), support::False);

    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(LastBox().text, T(233));
    EXPECT_EQ(card->writes, 0);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(EraseTest, CardsBeyondFourGiBAreErasedToTheEnd) {
    REQUIRE_EXTRA_LONG();
    constexpr std::uint64_t size = (5ull << 30) + 4096;
    auto card = std::make_shared<MemoryVolume>(size, 512, 1 << 20);
    auto head = CardBytes(2048, 32);
    std::copy(head.begin(), head.end(), card->Bytes().begin());
    engine::DriveNumber drive = Attach(card);

    EXPECT_EQ(tools::SecureEraseDevice(drive, support::True), support::True);

    EXPECT_EQ(card->lastWriteOffset + card->lastWriteCount, size);
    EXPECT_TRUE(std::equal(head.begin(), head.begin() + 16384, card->Bytes().begin()));
    EXPECT_EQ(card->Bytes()[16384], 0);
}

} // namespace
