// Restore of an image onto a card: byte for byte, and only after a Yes.
#include "ToolFixture.h"

namespace {

using namespace testing_tools;

class RestoreTest : public ToolTest {
protected:
    // An image of the card's size with other bytes than the card holds.
    std::string ImageFor(std::uint64_t sectors, std::int64_t sizeDelta = 0) {
        auto bytes = CardBytes(sectors);
        for (std::size_t i = 512; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
        bytes.resize(static_cast<std::size_t>(static_cast<std::int64_t>(bytes.size()) + sizeDelta), 0x5A);
        return WriteFile("image.img", bytes);
    }
};

TEST_F(RestoreTest, WritesTheImageBackByteForByte) {
    REQUIRE_EXTRA_LONG();
    // 3001 sectors: 100 blocks of 15360 bytes and a last one of 512.
    auto card = MemoryCard(3001);
    engine::DriveNumber drive = Attach(card);
    std::string image = ImageFor(3001);
    ui.QueueFileAnswer(image);
    ui.QueueAnswer(platform::IDYES);

    tools::RestoreDevice(drive);

    EXPECT_EQ(card->Bytes(), ReadFile(image));
    EXPECT_EQ(card->lastWriteOffset, 100u * 15360);
    EXPECT_EQ(card->lastWriteCount, 512u);
    ASSERT_EQ(BoxTexts(), (std::vector<std::string>{T(259) + "\r\n" + T(260), T(263)}));
    EXPECT_EQ(ui.boxes[0].style, platform::vbYesNoCancel | platform::vbExclamation | platform::vbDefaultButton2);
    EXPECT_EQ(LastBox().style, platform::vbInformation);
    ASSERT_EQ(ui.dialogs.size(), 1u);
    EXPECT_EQ(ui.dialogs[0].flags, 0x1000u);
    EXPECT_FALSE(ui.dialogs[0].save);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Succeeded);
    EXPECT_EQ(window.handedBack, 1);
    // The write handle is given back.
    EXPECT_EQ(engine::DriveTableEntry(drive).Handle, nullptr);
}

TEST_F(RestoreTest, AnImageOfAnotherSizeIsRefusedAndAskedAgain) {
    REQUIRE_EXTRA_LONG();
    for (int delta : {-1, +1}) {
        SCOPED_TRACE(delta);
        ui.boxes.clear();
        ui.dialogs.clear();
        auto card = MemoryCard(3000);
        auto before = card->Bytes();
        engine::DriveNumber drive = Attach(card);
        ui.QueueFileAnswer(ImageFor(3000, delta)); // then the dialog is cancelled

        tools::RestoreDevice(drive);

        EXPECT_EQ(BoxTexts(), std::vector<std::string>{T(257) + "\r\n" + T(258)});
        EXPECT_EQ(ui.dialogs.size(), 2u);
        EXPECT_EQ(card->writes, 0);
        EXPECT_EQ(card->Bytes(), before);
        EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Cancelled);
    }
}

TEST_F(RestoreTest, AnythingButYesLeavesTheCardUntouched) {
    REQUIRE_EXTRA_LONG();
    for (int answer : {platform::IDNO, platform::IDCANCEL}) {
        SCOPED_TRACE(answer);
        window.handedBack = 0;
        auto card = MemoryCard(3000);
        auto before = card->Bytes();
        engine::DriveNumber drive = Attach(card);
        ui.QueueFileAnswer(ImageFor(3000));
        ui.QueueAnswer(answer);

        tools::RestoreDevice(drive);

        EXPECT_EQ(card->writeSessions, 0);
        EXPECT_EQ(card->writes, 0);
        EXPECT_EQ(card->Bytes(), before);
        EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Cancelled);
        EXPECT_EQ(window.handedBack, 1);
    }
}

TEST_F(RestoreTest, FailedWritesReportWhatWasWritten) {
    REQUIRE_EXTRA_LONG();
    struct Case {
        std::uint64_t failFrom;
        std::string report;
    };
    const std::string writeFault = "WriteFile call failed. Error code=" + std::to_string(ERROR_WRITE_FAULT) + ": write fault";
    std::vector<Case> cases = {
        {0, writeFault + "\r\n" + T(262) + " 0 " + T(238) + " 1536000 " + T(239) + " (0%)"},
        {50 * 15360, writeFault + "\r\n" + T(262) + " 768000 " + T(238) + " 1536000 " + T(239) + " (50%)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failFrom);
        window.handedBack = 0;
        auto card = MemoryCard(3000);
        card->failWritesFrom = c.failFrom;
        engine::DriveNumber drive = Attach(card);
        ui.QueueFileAnswer(ImageFor(3000));
        ui.QueueAnswer(platform::IDYES);

        tools::RestoreDevice(drive);

        ASSERT_FALSE(ui.boxes.empty());
        EXPECT_EQ(LastBox().text, c.report);
        EXPECT_EQ(LastBox().style, platform::vbExclamation);
        EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
        EXPECT_EQ(window.handedBack, 1);
        EXPECT_EQ(engine::DriveTableEntry(drive).Handle, nullptr);
    }
}

TEST_F(RestoreTest, AMountedCardIsRefusedWithTheReason) {
    REQUIRE_EXTRA_LONG();
    auto card = MemoryCard(3000);
    card->refuseWrites = true;
    engine::DriveNumber drive = Attach(card);
    ui.QueueFileAnswer(ImageFor(3000));
    ui.QueueAnswer(platform::IDYES);

    tools::RestoreDevice(drive);

    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(LastBox().text, "Cannot open the drive for writing. Error code " + std::to_string(ERROR_SHARING_VIOLATION) + ": the device is in use");
    EXPECT_EQ(card->writes, 0);
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Failed);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(RestoreTest, AnUncheckableCardIsRefusedFirst) {
    auto blank = std::make_shared<MemoryVolume>(4096 * 512);
    tools::RestoreDevice(Attach(blank));
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(LastBox().text, T(254) + "\r\n" + T(255));
    EXPECT_TRUE(ui.dialogs.empty());
    EXPECT_EQ(blank->writes, 0);
    EXPECT_EQ(window.handedBack, 1);
}

TEST_F(RestoreTest, ImagesOfTwoGiBAndMoreAreAccepted) {
    REQUIRE_EXTRA_LONG();
    constexpr std::uint64_t size = (2ull << 30) + (1 << 20) + 512;
    auto card = std::make_shared<MemoryVolume>(size, 512, 1 << 20);
    auto head = CardBytes(2048);
    std::copy(head.begin(), head.end(), card->Bytes().begin());
    engine::DriveNumber drive = Attach(card);
    std::string image = WriteFile("big.img", head); // a sparse file of the card's size
    std::filesystem::resize_file(image, size);
    ui.QueueFileAnswer(image);
    ui.QueueAnswer(platform::IDYES);

    tools::RestoreDevice(drive);

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{T(259) + "\r\n" + T(260), T(263)}));
    EXPECT_EQ(card->lastWriteOffset + card->lastWriteCount, size);
    EXPECT_EQ(card->lastWriteCount, 512u); // 2049 blocks of 1 MiB, then the rest
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Succeeded);
}

} // namespace
