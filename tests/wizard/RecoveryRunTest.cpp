// The parts of a run that need no window: the capacity texts and the
// refusal of a CD-ROM drive. The whole run is tested through the window
// (tests/wizard/windows) and through tranquo-cli.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "platform/drives.h"
#include "platform/src/DriveNamespace.h"
#include "platform/ui.h"
#include "wizard/DriveList.h"
#include "wizard/RecoveryRun.h"

namespace fs = std::filesystem;

namespace {

TEST(DriveList, CapacityTextsFollowTheFormatOfTheirUnitAndTheUsersSeparator) {
    EXPECT_EQ(wizard::CapacityText(0, '.'), ". KB");
    EXPECT_EQ(wizard::CapacityText(512, '.'), "512. KB");
    EXPECT_EQ(wizard::CapacityText(1023, ','), "1023, KB");
    EXPECT_EQ(wizard::CapacityText(1024, '.'), "1.00 MB");
    EXPECT_EQ(wizard::CapacityText(65484, ','), "63,95 MB");
    EXPECT_EQ(wizard::CapacityText(1999872, '.'), "1.91 GB");
    EXPECT_EQ(wizard::CapacityText(2045440, ','), "1,95 GB");
    EXPECT_EQ(wizard::CapacityText(32LL * 1048576, '.'), "32.00 GB");
}

TEST(DriveList, SectorsAtOnceAreAHundredthOfTheDriveWithinOneRead) {
    engine::DriveGeometry g;
    g.BytesPerSector = 512;
    g.TotalSectors = 50;
    EXPECT_EQ(wizard::ProposedSectorsAtOnce(g), 1);
    g.TotalSectors = 32768;
    EXPECT_EQ(wizard::ProposedSectorsAtOnce(g), 327);
    g.TotalSectors = 3999744;
    EXPECT_EQ(wizard::ProposedSectorsAtOnce(g), 4000);
    g.BytesPerSector = 2048;
    EXPECT_EQ(wizard::ProposedSectorsAtOnce(g), 1000);
}

// A CD drive (an optical device in the system's list) is refused before
// anything is read or created, and the run goes on to its closing question.
TEST(RecoveryRun, ACdRomDriveIsRefusedWithoutScanning) {
    const fs::path temp = fs::temp_directory_path() / ("tranquo-run-cdrom-" + std::to_string(::getpid()));
    fs::create_directories(temp / "block" / "sr0" / "queue");
    std::ofstream(temp / "block" / "sr0" / "size") << 4096 << "\n";
    std::ofstream(temp / "block" / "sr0" / "queue" / "logical_block_size") << 2048 << "\n";
    ::unsetenv("TRANQUO_ATTACH");
    platform::detail::SetDeviceScanFolders((temp / "block").string(), (temp / "dev").string());
    platform::ResetDrives();
    platform::ListDrives();

    platform::ScriptedUi ui;
    platform::ScopedUi installed(ui);
    const wizard::WizardTexts texts({"unused"});
    wizard::RecoveryView view;
    wizard::RecoveryRequest request;
    request.letter = 'D';
    request.destinationRoot = (temp / "dest").string();
    wizard::RecoveryRun run(request, texts, view);
    const wizard::RecoveryOutcome outcome = run.Run();
    EXPECT_EQ(outcome.refusal, wizard::RunRefusal::CdRom);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "You have selected a CD-ROM drive. It is not possible to recover data from CD.");
    EXPECT_EQ(ui.boxes[0].title, "CD-ROM Drive Selected");
    EXPECT_EQ(ui.boxes[0].style, platform::vbCritical);
    EXPECT_FALSE(fs::exists(temp / "dest"));
    EXPECT_EQ(outcome.FilesFound(), 0);

    platform::detail::SetDeviceScanFolders("", "");
    platform::ResetDrives();
    fs::remove_all(temp);
}

// The closing question names what was saved whole, not what was found; the
// plain question stays for a run that saved everything it found.
TEST(RecoveryRun, TheClosingQuestionCountsWhatWasSavedAndSaysAStop) {
    std::vector<std::string> entries(86);
    for (int n = 1; n <= 86; ++n) entries[n - 1] = "T" + std::to_string(n);
    const wizard::WizardTexts texts(entries);
    wizard::RecoveryOutcome outcome;
    outcome.turbo.end = wizard::StageEnd::Completed;
    outcome.turbo.found = 8;
    outcome.turbo.saved = 7; // and one file of a type not recovered
    outcome.deepScanRan = true;
    outcome.deep.found = 3;
    outcome.deepSavedWhole = 3;
    wizard::ClosingQuestion closing = wizard::ClosingQuestionFor(outcome, texts);
    EXPECT_EQ(closing.text, "10 T21");
    EXPECT_EQ(closing.title, "T22");
    EXPECT_EQ(closing.offer, wizard::ClosingQuestion::Offer::Viewer);

    outcome.deep.end = wizard::DeepScanEnd::Stopped;
    outcome.deep.incompleteFiles = 1;
    outcome.deepSavedWhole = 2;
    outcome.turbo.notWritten = 4;
    outcome.turbo.saved = 3;
    outcome.turbo.destinationFull = true;
    closing = wizard::ClosingQuestionFor(outcome, texts);
    EXPECT_EQ(closing.text, "T72\r\n\r\nT73 5\r\nT74 1\r\nT75 4 (T76)\r\n\r\nT77");
    EXPECT_EQ(closing.title, "T71");
    EXPECT_EQ(closing.style, platform::vbYesNo | platform::vbQuestion);

    // Nothing reached the destination: the counts, and nothing to look at.
    outcome.deepScanRan = false;
    outcome.turbo.end = wizard::StageEnd::Completed;
    outcome.turbo.saved = 0;
    closing = wizard::ClosingQuestionFor(outcome, texts);
    EXPECT_EQ(closing.text, "T73 0\r\nT75 4 (T76)");
    EXPECT_EQ(closing.style, platform::vbExclamation);
    EXPECT_EQ(closing.offer, wizard::ClosingQuestion::Offer::Nothing);
}

} // namespace
