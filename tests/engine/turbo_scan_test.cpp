// The turbo scan end to end on builder-made cards: what comes back, under
// which names, in which order the events arrive, and how stop works.
#include "EngineTestSupport.h"

#include <ctime>
#include <sys/stat.h>

namespace enginetest {
namespace {

class TurboScanTest : public EngineTest {};

class TurboScanKinds : public EngineTest, public ::testing::WithParamInterface<int> {};

FatImageOptions OptionsFor(int k) {
    switch (k) {
    case 0: return FatImageOptions::Fat12();
    case 1: return FatImageOptions::Fat16(64);
    case 2: return FatImageOptions::Fat32(64);
    case 3: return FatImageOptions::Fat12(8192, 2048);
    case 4: return FatImageOptions::Fat16(64, 2048);
    default: return FatImageOptions::Fat32(160, 2048);
    }
}

TEST_P(TurboScanKinds, LiveDeletedFragmentedAndLongNamedFilesComeBackWhole) {
    FatImageBuilder card(OptionsFor(GetParam()));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto album = card.AddFolder(dcim, "100MSDCF");
    const auto live = PatternBytes(70000, 1);
    const auto cleared = PatternBytes(23000, 2);
    const auto kept = PatternBytes(9000, 3);
    const auto fragmented = PatternBytes(40000, 4);
    const auto longNamed = PatternBytes(5000, 5);
    card.AddFile(album, "DSC00001.JPG", live);
    card.Delete(card.AddFile(album, "DSC00002.JPG", cleared), /*clearChain=*/true);
    card.Delete(card.AddFile(album, "DSC00003.JPG", kept), /*clearChain=*/false);
    FileOptions fragments;
    fragments.fragmentEvery = 2;
    fragments.fragmentGap = 3;
    card.AddFile(album, "MVI_0004.MOV", fragmented, fragments);
    card.AddFile(card.Root(), "Holiday at the sea.jpg", longNamed);
    card.AddFile(card.Root(), "NOTES.TXT", PatternBytes(100, 6));

    const ScanResult scan = Scan(card);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_TRUE(scan.errors.empty());
    std::map<std::string, std::vector<std::uint8_t>> expected{
        {"DSC00001.JPG", live},          {"DSC00002.JPG", cleared},
        {"MVI_0004.MOV", fragmented},    {"Holiday at the sea.jpg", longNamed}};
    // A deleted file whose chain is still marked in use counts as reused.
    for (const auto& [name, bytes] : expected) {
        ASSERT_TRUE(scan.files.count(name)) << name;
        EXPECT_EQ(scan.files.at(name), bytes) << name;
    }
    EXPECT_EQ(scan.files.size(), expected.size());
    EXPECT_EQ(scan.filesFound, 4);
    EXPECT_EQ(scan.lastProgress, 4);
}

INSTANTIATE_TEST_SUITE_P(Fat12Fat16Fat32At512And2048, TurboScanKinds, ::testing::Range(0, 6));

TEST_F(TurboScanTest, EventsComeInTheirOrder) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    card.AddFile(dcim, "IMG_0001.JPG", PatternBytes(3000, 1));
    const ScanResult scan = Scan(card);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    const std::int64_t dcimCluster = 2;
    const std::vector<std::string> expected{
        "info: Started Pre-Scan",
        "info: Reading BootSector",
        "info: Reading FAT Table",
        "info: FAT Directory : DCIM @  2 Cluster (Sector  " + std::to_string(card.ClusterSector(dcimCluster)) + ")",
        "info: FAT File : IMG_0001.JPG @  3 Cluster (Sector  " + std::to_string(card.ClusterSector(3)) +
            ") (Size  3000)",
        "info: Saving files found",
        "found: 1",
        "saved: IMG_0001.JPG",
        "info: Finished Pre-Scan",
    };
    EXPECT_EQ(scan.events, expected);
}

TEST_F(TurboScanTest, KeepFolderStructureRebuildsTheTree) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto a = card.AddFolder(dcim, "100CANON");
    card.AddFile(a, "IMG_0001.JPG", PatternBytes(100, 1));
    card.AddFile(card.Root(), "ROOT.JPG", PatternBytes(100, 2));
    const ScanResult scan = Scan(card, 64, /*keepFolders=*/true);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_TRUE(scan.files.count("DCIM/100CANON/IMG_0001.JPG"));
    EXPECT_TRUE(scan.files.count("ROOT.JPG"));
}

TEST_F(TurboScanTest, SameNameFromTwoFoldersGetsADistinctNameInTheFlatFolder) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto first = card.AddFolder(dcim, "100MSDCF");
    const auto second = card.AddFolder(dcim, "101MSDCF");
    const auto a = PatternBytes(1000, 1), b = PatternBytes(2000, 2);
    card.AddFile(first, "DSC00001.JPG", a);
    card.AddFile(second, "DSC00001.JPG", b);
    const ScanResult scan = Scan(card);
    ASSERT_EQ(scan.files.size(), 2u);
    EXPECT_EQ(scan.files.at("DSC00001.JPG"), a);
    EXPECT_EQ(scan.files.at("DSC00001 (2).JPG"), b);
    // A second run keeps the first run's files and adds its own beside them.
    const ScanResult again = Scan(Attach(card));
    EXPECT_EQ(again.files.size(), 4u);
    EXPECT_EQ(again.files.at("DSC00001.JPG"), a);
}

TEST_F(TurboScanTest, StopBeforeScanReadsNothing) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.AddFile(card.Root(), "A.JPG", PatternBytes(100, 1));
    const char letter = Attach(card);
    const ScanResult scan = Scan(letter, 64, false, [](engine::FATEngine& e) { e.StopScan(); });
    EXPECT_FALSE(scan.raised);
    EXPECT_EQ(scan.events, std::vector<std::string>{"info: Started Pre-Scan"});
    EXPECT_TRUE(volume->reads.empty());
}

TEST_F(TurboScanTest, StopDuringTheWalkRaisesError70AndSavesNothing) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    for (int i = 0; i < 20; ++i) card.AddFile(dcim, "IMG_" + std::to_string(1000 + i) + ".JPG", PatternBytes(10, i));
    const char letter = Attach(card);
    engine::FATEngine* running = nullptr;
    ui.AtPump(5, [&running] { running->StopScan(); });
    const ScanResult scan = Scan(letter, 64, false, [&running](engine::FATEngine& e) { running = &e; });
    EXPECT_TRUE(scan.raised);
    EXPECT_EQ(scan.errorNumber, 70);
    EXPECT_TRUE(scan.files.empty());
}

TEST_F(TurboScanTest, StopWhileSavingFinishesTheCurrentFile) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    for (int i = 0; i < 5; ++i) card.AddFile(card.Root(), "IMG_" + std::to_string(1000 + i) + ".JPG", PatternBytes(50000, i));
    const char letter = Attach(card);
    ScanResult result;
    engine::FATEngine engine;
    Record(engine, result);
    engine.SetDestFolder(Dest().string() + "/");
    engine.Events.OnFoundFATFile = [&engine, &result](const std::string&, const std::string& name) {
        result.events.push_back("saved: " + name);
        engine.StopScan();
    };
    engine.PreScan(std::string(1, letter), support::False);
    EXPECT_EQ(std::count_if(result.events.begin(), result.events.end(),
                            [](const std::string& e) { return e.rfind("saved: ", 0) == 0; }),
              1);
    EXPECT_EQ(ReadAll(Dest() / "IMG_1000.JPG"), PatternBytes(50000, 0));
    EXPECT_EQ(result.infos.back(), "Saving files found");
}

TEST_F(TurboScanTest, AStoppedOrFailedScanLeavesTheDriveClosed) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    for (int i = 0; i < 20; ++i) card.AddFile(card.Root(), "IMG_" + std::to_string(1000 + i) + ".JPG", PatternBytes(10, i));
    const char letter = Attach(card);
    const engine::DriveNumber drive = engine::DriveNumberFromLetter(letter);
    engine::FATEngine* running = nullptr;
    ui.AtPump(5, [&running] { running->StopScan(); });
    const ScanResult scan = Scan(letter, 64, false, [&running](engine::FATEngine& e) { running = &e; });
    EXPECT_EQ(scan.errorNumber, 70);
    EXPECT_EQ(engine::DriveTableEntry(drive).Handle, nullptr) << "error 70";

    engine::FATEngine engine;
    engine.SetDestFolder(Dest().string() + "/");
    engine.Events.OnFoundFATFile = [&engine](const std::string&, const std::string&) { engine.StopScan(); };
    engine.PreScan(std::string(1, letter), support::False);
    EXPECT_EQ(engine::DriveTableEntry(drive).Handle, nullptr) << "stopped while saving";
}

TEST_F(TurboScanTest, UnsearchableTypesAreNeitherListedNorSavedButThumbnailsAreListed) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.AddFile(card.Root(), "SMALL.THM", PatternBytes(100, 1));
    card.AddFile(card.Root(), "README.TXT", PatternBytes(100, 2));
    card.AddFile(card.Root(), "IMG_0001.JPG", PatternBytes(100, 3));
    const ScanResult scan = Scan(card);
    EXPECT_EQ(scan.filesFound, 2);  // THM listed because JPG is searchable
    EXPECT_EQ(scan.files.size(), 1u);
    EXPECT_TRUE(scan.files.count("IMG_0001.JPG"));
}

TEST_F(TurboScanTest, LongFormsOfAKnownExtensionAreSavedAsThatType) {
    engine::UseFileTypeTableForTests({{"JPG", true}, {"MPG", true}, {"TIF", true}, {"AVI", false}, {"TXT", false}});
    FatImageBuilder card(FatImageOptions::Fat16(32));
    for (const char* name : {"movie-hello.mpeg", "Beach.jpeg", "scan.tiff", "clip.mp2", "old.divx", "notes.text"})
        card.AddFile(card.Root(), name, PatternBytes(100, 1));
    const ScanResult scan = Scan(card);
    EXPECT_EQ(scan.filesFound, 4);
    for (const char* name : {"movie-hello.mpeg", "Beach.jpeg", "scan.tiff", "clip.mp2"})
        EXPECT_TRUE(scan.files.count(name)) << name;
}

TEST_F(TurboScanTest, SavedFilesKeepTheirDateAndReadOnlyFlag) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    FileOptions ro;
    ro.attributes = 0x21;
    card.AddFile(card.Root(), "LOCKED.JPG", PatternBytes(100, 1), ro);
    card.AddFile(card.Root(), "EMPTY.JPG", {});
    const ScanResult scan = Scan(card);
    ASSERT_TRUE(scan.files.count("LOCKED.JPG"));
    EXPECT_TRUE(scan.files.count("EMPTY.JPG"));
    EXPECT_TRUE(scan.files.at("EMPTY.JPG").empty());
    // The entry's write time, 2025-01-01 12:00:00 local time.
    std::tm when{};
    when.tm_year = 125;
    when.tm_mday = 1;
    when.tm_hour = 12;
    when.tm_isdst = -1;
    struct stat info{};
    ASSERT_EQ(::stat((Dest() / "LOCKED.JPG").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, std::mktime(&when));
    const auto perms = fs::status(Dest() / "LOCKED.JPG").permissions();
    EXPECT_EQ(perms & fs::perms::owner_write, fs::perms::none);
    fs::permissions(Dest() / "LOCKED.JPG", fs::perms::owner_write, fs::perm_options::add);
}

} // namespace
} // namespace enginetest

namespace enginetest {
namespace {

TEST_F(TurboScanTest, ACardWithAPartitionTableIsScannedThroughItsPartition) {
    FatImageOptions o = FatImageOptions::Fat32(64);
    o.mbrPartitionStart = 2048;
    FatImageBuilder card(o);
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto photo = PatternBytes(77777, 7);
    card.AddFile(dcim, "IMG_0001.JPG", photo);
    const fs::path image = root_ / "partitioned.img";
    card.WriteFile(image.string());
    std::string error;
    const std::vector<char> letters = platform::AttachImage(image.string(), &error);
    ASSERT_EQ(letters.size(), 1u) << error;
    const ScanResult scan = Scan(letters[0]);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_EQ(scan.files.at("IMG_0001.JPG"), photo);
}

} // namespace
} // namespace enginetest

namespace enginetest {
namespace {

TEST_F(TurboScanTest, A2048ByteSectorCardOnADriveOf512ByteSectorsIsReadInItsOwnUnits) {
    FatImageBuilder card(FatImageOptions::Fat16(64, 2048));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto photo = PatternBytes(100000, 1);
    FileOptions fragments;
    fragments.fragmentEvery = 5;
    card.AddFile(dcim, "IMG_0001.JPG", photo, fragments);
    // As an image file is attached: the drive reports 512-byte sectors.
    auto v = std::make_shared<testcommon::SparseVolume>(card.Image(), 512);
    const ScanResult scan = Scan(Attach(v));
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_EQ(scan.files.at("IMG_0001.JPG"), photo);
}

} // namespace
} // namespace enginetest
