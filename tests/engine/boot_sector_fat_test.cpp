// The boot sector's checks and fallbacks, and the FAT's entries, chains and
// wiped-table probe.
#include "EngineTestSupport.h"

namespace enginetest {
namespace {

class BootSectorTest : public EngineTest {
protected:
    engine::FATEngine engine;
    bool Read(FatImageBuilder& card) {
        const char letter = Attach(card);
        return engine.ReadDeviceBootSector(engine::DriveNumberFromLetter(letter)) != support::False;
    }
    static std::vector<std::uint8_t> U16(std::uint32_t v) {
        return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    }
    static std::vector<std::uint8_t> U32(std::uint32_t v) {
        return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                static_cast<std::uint8_t>(v >> 24)};
    }
};

TEST_F(BootSectorTest, DerivesTheGeometryOfEachKind) {
    for (int k = 0; k < 3; ++k) {
        FatImageBuilder card(k == 0 ? FatImageOptions::Fat12() : k == 1 ? FatImageOptions::Fat16(64) : FatImageOptions::Fat32(64));
        card.AddFile(card.Root(), "CHAIN.JPG", PatternBytes(card.BytesPerCluster() * 3, 1));
        engine::FATEngine e;
        const char letter = Attach(card);
        ASSERT_TRUE(e.ReadDeviceBootSector(engine::DriveNumberFromLetter(letter)));
        EXPECT_EQ(e.FATType(), k + 1);
        EXPECT_EQ(e.CountOfClusters(), static_cast<std::int32_t>(card.CountOfClusters()));
        EXPECT_EQ(e.Layout().FirstDataSector, static_cast<std::int32_t>(card.FirstDataSector()));
        EXPECT_EQ(e.Layout().DeepScanStart(), e.Layout().FirstDataSector);
        EXPECT_EQ(e.RootDirSector(), static_cast<std::int32_t>(card.RootDirSector()));
        EXPECT_EQ(e.RootCluster(), k == 2 ? 2 : 0);
        EXPECT_EQ(e.FATCopyForChains(), 1);  // chains in the FAT: follow them
        engine::ResetDriveTable();
    }
}

TEST_F(BootSectorTest, ClusterCountDecidesTheFatType) {
    // FAT16 layout, one sector per cluster; TotalSectors16 picks the count.
    const std::pair<std::uint32_t, int> cases[] = {{4084, 1}, {4085, 2}, {65524, 2}, {65525, 3}};
    for (const auto& [clusters, type] : cases) {
        FatImageOptions o = FatImageOptions::Fat16(64);
        o.sectorsPerCluster = 1;
        o.checkKind = false;
        FatImageBuilder card(o);
        const std::uint32_t total = card.FirstDataSector() + clusters;
        card.PatchBootSector(19, U16(total < 65536 ? total : 0));
        card.PatchBootSector(32, U32(total < 65536 ? 0 : total));
        engine::FATEngine e;
        const char letter = Attach(card);
        e.ReadDeviceBootSector(engine::DriveNumberFromLetter(letter));
        EXPECT_EQ(e.FATType(), type) << clusters;
        engine::ResetDriveTable();
    }
}

TEST_F(BootSectorTest, OnlyFiveTwelveAnd2048ByteSectorsAreValidButTheScanGoesOn) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.PatchBootSector(11, U16(1024));
    EXPECT_TRUE(Read(card));
    EXPECT_EQ(engine.TraceLog(), std::vector<std::string>{"INVALID PRIMARY BOOT SECTOR"});
}

TEST_F(BootSectorTest, ClusterSizeLimit) {
    {
        FatImageBuilder card(FatImageOptions::Fat16(64));
        card.PatchBootSector(13, {64});
        EXPECT_TRUE(Read(card));
    }
    engine::ResetDriveTable();
    engine::FATEngine e;
    std::vector<std::string> errors;
    e.Events.LogErrorMessage = [&errors](const std::string& m) { errors.push_back(m); };
    FatImageBuilder card(FatImageOptions::Fat16(64));
    card.PatchBootSector(13, {128});
    const char letter = Attach(card);
    EXPECT_FALSE(e.ReadDeviceBootSector(engine::DriveNumberFromLetter(letter)));
    EXPECT_EQ(e.LastError(), 12);
    EXPECT_EQ(errors, std::vector<std::string>{"BytesPerCluster > 32768"});
}

TEST_F(BootSectorTest, Fat32RootClusterBeyondTheVolumeIsRejected) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    card.PatchBootSector(44, U32(card.CountOfClusters() + 1));
    EXPECT_FALSE(Read(card));
    EXPECT_EQ(engine.LastError(), 13);
}

TEST_F(BootSectorTest, ADataAreaFarIntoTheDriveIsNotALayoutToScan) {
    // 65,535 reserved sectors, or 255 FATs: the data area would start a
    // quarter or more into the card.
    const std::pair<std::uint32_t, std::vector<std::uint8_t>> damage[] = {{14, U16(65535)}, {16, {255}}};
    for (const auto& [offset, bytes] : damage) {
        FatImageBuilder card(FatImageOptions::Fat16(64));
        card.PatchBootSector(offset, bytes);
        engine::FATEngine e;
        EXPECT_FALSE(e.ReadDeviceBootSector(engine::DriveNumberFromLetter(Attach(card)))) << offset;
        EXPECT_EQ(e.LastError(), 14) << offset;
        EXPECT_FALSE(e.Layout().Usable);
        EXPECT_EQ(e.Layout().DeepScanStart(), 0) << offset;
        engine::ResetDriveTable();
    }
}

TEST_F(BootSectorTest, EachParseHasItsOwnLayoutAndAFailedOneLeavesNoneBehind) {
    FatImageBuilder a(FatImageOptions::Fat16(64));
    FatImageBuilder b(FatImageOptions::Fat16(32));
    b.PatchBootSector(13, {0});
    const char letterA = Attach(a);
    const char letterB = Attach(b);
    engine::FATEngine first;
    ASSERT_TRUE(first.ReadDeviceBootSector(engine::DriveNumberFromLetter(letterA)));
    EXPECT_EQ(first.Layout().DeepScanStart(), static_cast<std::int32_t>(a.FirstDataSector()));
    // The same engine and a new one: card B's failed parse reports nothing of A.
    EXPECT_FALSE(first.ReadDeviceBootSector(engine::DriveNumberFromLetter(letterB)));
    engine::FATEngine second;
    EXPECT_FALSE(second.ReadDeviceBootSector(engine::DriveNumberFromLetter(letterB)));
    for (const engine::FATEngine* e : {&first, &second}) {
        EXPECT_FALSE(e->Layout().Usable);
        EXPECT_EQ(e->Layout().DeepScanStart(), 0);
        EXPECT_NE(e->Layout().FirstDataSector, static_cast<std::int32_t>(a.FirstDataSector()));
    }
}

TEST_F(BootSectorTest, ZeroSectorsPerClusterIsError10) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.PatchBootSector(13, {0});
    EXPECT_FALSE(Read(card));
    EXPECT_EQ(engine.LastError(), 10);
}

TEST_F(BootSectorTest, UnreadableSectorZeroGivesThe128MiBFat16Layout) {
    FatImageBuilder card(FatImageOptions::Fat16(128));
    auto v = card.Volume();
    v->failingSectors.insert(0);
    const char letter = Attach(v);
    ASSERT_TRUE(engine.ReadDeviceBootSector(engine::DriveNumberFromLetter(letter)));
    EXPECT_EQ(engine.FATType(), 2);
    EXPECT_EQ(engine.Layout().Boot.SectorsPerFAT16, 247);
    EXPECT_EQ(engine.Layout().FirstDataSector, 1 + 2 * 247 + 32);
    // A guessed layout is no place to start carving: the deep scan reads all.
    EXPECT_EQ(engine.Layout().DeepScanStart(), 0);
    EXPECT_EQ(engine.BytesPerCluster(), 2048);
}

TEST_F(BootSectorTest, DamagedFat32PrimaryIsReadFromItsBackupAndRecovered) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto photo = PatternBytes(12345, 9);
    card.AddFile(dcim, "IMG_0001.JPG", photo);
    card.DamagePrimaryBootSector();
    const ScanResult scan = Scan(card);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_EQ(scan.files.at("IMG_0001.JPG"), photo);
}

TEST_F(BootSectorTest, DamagedFat16PrimaryFailsWithError10AndItsTexts) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.PatchBootSector(11, U16(0));
    const ScanResult scan = Scan(card);
    EXPECT_TRUE(scan.raised);
    EXPECT_EQ(scan.errorNumber, 10);
    EXPECT_NE(scan.errorText.find("\r\n\r\n"), std::string::npos);
}

TEST(FatValues, ClassifiedByTheLowBitsOfEachKind) {
    using engine::ClassifyFATValue;
    EXPECT_EQ(ClassifyFATValue(1, 0xFF0), engine::FatInUse);
    EXPECT_EQ(ClassifyFATValue(1, 0xFF1), engine::FatBad);
    EXPECT_EQ(ClassifyFATValue(1, 0xFF7), engine::FatBad);
    EXPECT_EQ(ClassifyFATValue(1, 0xFF8), engine::FatEndOfChain);
    EXPECT_EQ(ClassifyFATValue(1, 0), engine::FatFree);
    EXPECT_EQ(ClassifyFATValue(2, 0xFFF7), engine::FatBad);
    EXPECT_EQ(ClassifyFATValue(2, 0xFFF0), engine::FatInUse);
    EXPECT_EQ(ClassifyFATValue(2, 0x1FFFF), engine::FatEndOfChain);
    EXPECT_EQ(ClassifyFATValue(3, 0x1FFFFFFF), engine::FatEndOfChain);
    EXPECT_EQ(ClassifyFATValue(3, 0x0FFFFFF7), engine::FatBad);
    EXPECT_EQ(ClassifyFATValue(0, 0xFFFF), engine::FatInUse);
}

class FatTableTest : public BootSectorTest {};

TEST_F(FatTableTest, Fat12EntriesShareBytesAndSpanSectors) {
    FatImageBuilder card(FatImageOptions::Fat12());
    card.SetFatEntry(2, 0x003);
    card.SetFatEntry(3, 0x004);
    // Cluster 341 sits at byte 511: its entry spans the first two FAT sectors.
    card.SetFatEntry(341, 0xABC);
    card.SetFatEntry(342, 0x123);
    ASSERT_TRUE(Read(card));
    EXPECT_EQ(engine.ReadFATEntry(2, 0), 0x003u);
    EXPECT_EQ(engine.ReadFATEntry(3, 0), 0x004u);
    EXPECT_EQ(engine.ReadFATEntry(341, 0), 0xABCu);
    EXPECT_EQ(engine.ReadFATEntry(342, 0), 0x123u);
    EXPECT_EQ(engine.ReadFATEntry(341, 1), 0xABCu);  // the second copy
    EXPECT_EQ(engine.ReadFATEntry(1, 0), 0u);
    EXPECT_EQ(engine.ReadFATEntry(card.CountOfClusters() + 2, 0), 0u);
}

TEST_F(FatTableTest, Fat32EntriesDropTheirTopFourBits) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    card.SetFatEntry(5, 0x1FFFFFFF);
    ASSERT_TRUE(Read(card));
    // The builder masks what it writes; put the high bits in by hand.
    EXPECT_EQ(engine.ReadFATEntry(5, 0), 0x0FFFFFFFu);
}

TEST_F(FatTableTest, WholeFatReadIncludesTheLastCluster) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const std::uint32_t last = card.CountOfClusters() + 1;
    card.SetFatEntry(last, 0xFFFF);
    card.SetFatEntry(7, 9);
    ASSERT_TRUE(Read(card));
    engine.ReadClusterChains();
    ASSERT_EQ(engine.FAT1Values().size(), static_cast<std::size_t>(last) + 1);
    EXPECT_EQ(engine.FAT1Values()[7], 9u);
    EXPECT_EQ(engine.FAT1Values()[last], 0xFFFFu);
}

TEST_F(FatTableTest, WipedFatIsDetectedAndDirectoriesContinueInTheNextCluster) {
    // One-sector clusters: the folder of 40 entries spans clusters 2, 3 and
    // 4, side by side as a camera writes them; the photos lie further on.
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;
    FatImageBuilder card(o);
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    std::map<std::string, std::vector<std::uint8_t>> photos;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "IMG_" + std::to_string(1000 + i) + ".JPG";
        photos[name] = PatternBytes(100, static_cast<std::uint32_t>(i));
        FileOptions at;
        at.clusters = {static_cast<std::uint32_t>(100 + i)};
        card.AddFile(dcim, name, photos[name], at);
    }
    card.WipeFat();
    {
        engine::FATEngine probe;
        const char letter = Attach(card);
        ASSERT_TRUE(probe.ReadDeviceBootSector(engine::DriveNumberFromLetter(letter)));
        EXPECT_EQ(probe.FATCopyForChains(), 0);
    }
    const ScanResult scan = Scan(card);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_EQ(scan.files.size(), 40u);
    for (const auto& [name, bytes] : photos) EXPECT_EQ(scan.files.at(name), bytes) << name;
}

} // namespace
} // namespace enginetest
