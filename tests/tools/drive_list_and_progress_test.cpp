// What the tools window shows, decided below it: the card list and the
// progress line.
#include <gtest/gtest.h>

#include <map>

#include "platform/fileapi.h"
#include "tools/AdvToolsChoice.h"
#include "tools/RemovableDriveList.h"
#include "tools/TransferMeter.h"

namespace {

struct FakeDrive {
    unsigned type;
    std::string capacity;
};

tools::DriveQueries Drives(const std::map<char, FakeDrive>& drives) {
    std::string list;
    for (const auto& [letter, drive] : drives) list += std::string(1, letter) + ":\\" + '\0';
    if (!list.empty()) list += '\0';
    return tools::DriveQueries{
        [list] { return list; },
        [drives](const std::string& root) { return drives.at(root[0]).type; },
        [drives](const std::string& root) { return drives.at(root[0]).capacity; },
    };
}

std::vector<std::string> Items(const tools::DriveListing& listing) {
    std::vector<std::string> texts;
    for (const auto& item : listing.items) texts.push_back(item.text);
    return texts;
}

TEST(DriveList, OnlyRemovableDrivesWithMediaOtherThanTheFloppy) {
    const auto listing = tools::ListRemovableDrives(Drives({
        {'A', {DRIVE_REMOVABLE, "1474560"}},   // the floppy, even with a disk
        {'C', {DRIVE_FIXED, "500107862016"}},
        {'D', {DRIVE_REMOVABLE, "536870912"}}, // 512 MiB
        {'E', {DRIVE_REMOVABLE, "0"}},         // a reader without a card
        {'F', {DRIVE_REMOVABLE, "1073741824"}}, // 1 GiB
        {'G', {DRIVE_REMOVABLE, "1073741823"}}, // a byte less
        {'H', {DRIVE_CDROM, "700000000"}},
    }));
    EXPECT_FALSE(listing.noDrivesAtAll);
    EXPECT_EQ(Items(listing), (std::vector<std::string>{"D: (512.00 MB)", "F: (1.00 GB)", "G: (1024.00 MB)"}));
    EXPECT_EQ(listing.items[1].drive, 6);
    EXPECT_EQ(tools::DriveFromItem("F: (1.00 GB)"), 6);
    EXPECT_EQ(tools::DriveSizeText(512 * 1024), ".50 MB");
    EXPECT_EQ(tools::DriveSizeText(256.0 * 1024 * 1024, ','), "256,00 MB"); // as the wizard writes it in German

    EXPECT_TRUE(tools::ListRemovableDrives(Drives({})).noDrivesAtAll);
}

TEST(DriveList, TheDevicePromptDiffersOnlyInItsSecondHalf) {
    tools::ToolsTexts texts;
    texts.promptFirstHalf = "Choose the device";
    texts.promptBackup = "to back up:";
    texts.promptRestore = "to restore the image to:";
    EXPECT_EQ(tools::DevicePrompt(tools::ToolChoice::Backup, texts), "Choose the device to back up:");
    EXPECT_EQ(tools::DevicePrompt(tools::ToolChoice::Restore, texts), "Choose the device to restore the image to:");
    EXPECT_EQ(tools::DevicePrompt(tools::ToolChoice::ChangeDir, texts), "");
    EXPECT_EQ(tools::GoActionFor(tools::ToolChoice::None), tools::GoAction::AskForChoice);
}

TEST(TransferProgress, SpeedAndTimeLeftFromTheFirstReportOn) {
    double now = 100;
    tools::TransferMeter meter([&now] { return now; });
    // The first report starts the measurement: no speed yet.
    auto first = meter.Update(1 << 20, 64 << 20);
    EXPECT_EQ(first.permille, 15);
    EXPECT_EQ(first.text, "1.0 MB / 64.0 MB");
    now += 2;
    auto later = meter.Update(9 << 20, 64 << 20); // 8 MB in 2 s
    EXPECT_EQ(later.text, "9.0 MB / 64.0 MB   4.0 MB/s   0:14");
    EXPECT_EQ(meter.Update(64 << 20, 64 << 20).permille, 1000);
    EXPECT_EQ(tools::ViewOfTransfer(512 << 10, 64 << 20, 0, 0).text, "0.5 MB / 64.0 MB"); // in the total's unit
    EXPECT_EQ(tools::Duration(3723), "1:02:03");
}

} // namespace
