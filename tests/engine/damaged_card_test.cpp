// Damaged cards: random bytes in the boot sector, the FAT and the
// directories must never crash or hang the scan, and every file it writes
// stays inside the destination folder.
#include "EngineTestSupport.h"

#include <random>

namespace enginetest {
namespace {

class DamagedCardTest : public EngineTest, public ::testing::WithParamInterface<int> {};

FatImageBuilder MakeCard(int kind) {
    FatImageBuilder card(kind == 0 ? FatImageOptions::Fat12() : kind == 1 ? FatImageOptions::Fat16(16) : FatImageOptions::Fat32(40));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto album = card.AddFolder(dcim, "100MSDCF");
    for (int i = 0; i < 30; ++i) {
        auto ref = card.AddFile(i % 2 ? album : dcim, i % 3 ? "DSC" + std::to_string(10000 + i) + ".JPG" : "Photo number " + std::to_string(i) + ".jpg",
                                PatternBytes(500 + 1711 * i, i));
        if (i % 4 == 0) card.Delete(ref, i % 8 == 0);
    }
    return card;
}

TEST_P(DamagedCardTest, RandomDamageNeverCrashesOrEscapes) {
    const int kind = GetParam() % 3;
    std::mt19937 random(static_cast<unsigned>(GetParam()));
    FatImageBuilder card = MakeCard(kind);
    auto image = card.Image();
    const std::uint64_t bps = card.BytesPerSector();
    const std::uint64_t dataStart = card.VolumeOffset() + std::uint64_t(card.FirstDataSector()) * bps;
    const std::uint64_t metadataEnd = dataStart + 8 * card.BytesPerCluster();
    // Damage: a few boot-sector fields, then bytes of the FAT and directories.
    const int bootHits = static_cast<int>(random() % 4);
    for (int i = 0; i < bootHits; ++i) image->SetByte(11 + random() % 40, static_cast<std::uint8_t>(random()));
    const int hits = 20 + static_cast<int>(random() % 200);
    for (int i = 0; i < hits; ++i)
        image->SetByte(bps + random() % (metadataEnd - bps), static_cast<std::uint8_t>(random()));
    const ScanResult scan = Scan(Attach(card.Volume()), static_cast<std::int16_t>(1 + random() % 200));
    // Whatever the outcome, the files stay under the destination.
    if (fs::exists(root_)) {
        for (const auto& e : fs::recursive_directory_iterator(root_)) {
            const std::string path = fs::weakly_canonical(e.path()).string();
            EXPECT_EQ(path.rfind(fs::weakly_canonical(Dest()).string(), 0), 0u) << path;
        }
    }
    if (scan.raised) {
        EXPECT_TRUE(scan.errorNumber == 10 || scan.errorNumber == 70) << scan.errorNumber;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, DamagedCardTest, ::testing::Range(0, 60));

TEST_F(EngineTest, HostileBootSectorValuesAreRefusedOrBounded) {
    struct Case {
        std::uint32_t offset;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {11, {0, 0}},                    // no sector size
        {13, {0}},                       // no cluster size
        {16, {0}},                       // no FAT
        {19, {0, 0}}, {32, {0xFF, 0xFF, 0xFF, 0x7F}},  // an enormous volume
        {22, {0xFF, 0xFF}},              // a FAT larger than the volume
        {14, {0xFF, 0xFF}},              // all reserved
        {17, {0xFF, 0xFF}},              // a huge root
        {11, {0x00, 0x08}},              // 2048-byte sectors on a 512-byte card
    };
    for (const auto& c : cases) {
        FatImageBuilder card = MakeCard(1);
        card.PatchBootSector(c.offset, c.bytes);
        const ScanResult scan = Scan(Attach(card.Volume()));
        if (scan.raised) {
            EXPECT_EQ(scan.errorNumber, 10) << c.offset;
        }
        engine::ResetDriveTable();
        platform::ResetDrives();
    }
}

} // namespace
} // namespace enginetest

namespace enginetest {
namespace {

TEST_F(EngineTest, AFullRootOfACardThatClaimsToBeHugeEndsAtTheDrivesEnd) {
    FatImageBuilder card(FatImageOptions::Fat12());
    // Every root slot used (no zero entry), and no zero byte after it.
    for (std::uint32_t i = card.EntryCount(card.Root()); i < 224; ++i)
        card.AddFile(card.Root(), "F" + std::to_string(i) + ".JPG", {});
    auto image = card.Image();
    const std::uint64_t dataStart = std::uint64_t(card.FirstDataSector()) * card.BytesPerSector();
    image->Fill(dataStart, 0x41, image->Size() - dataStart);
    card.PatchBootSector(19, {0, 0});
    card.PatchBootSector(32, {0x40, 0x0D, 0x03, 0x00});  // 200,000 sectors, still FAT16 by count
    const ScanResult scan = Scan(Attach(card.Volume()));
    EXPECT_FALSE(scan.raised) << scan.errorText;
    EXPECT_EQ(scan.filesFound, 223);
}

} // namespace
} // namespace enginetest

namespace enginetest {
namespace {

TEST_F(EngineTest, AnUnreadableFolderSectorIsReportedAndOnlyItsEntriesAreLost) {
    FatImageBuilder card(FatImageOptions::Fat16(64));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    // "." and ".." and 14 files fill the folder's first sector, 16 its second.
    for (int i = 0; i < 40; ++i) card.AddFile(dcim, "F" + std::to_string(100 + i) + ".JPG", PatternBytes(700, i));
    auto v = card.Volume();
    v->failingSectors.insert(card.ClusterSector(card.FolderEntry(dcim).clusters[0]) + 1);
    const ScanResult scan = Scan(Attach(v));
    ASSERT_FALSE(scan.raised) << scan.errorText;
    ASSERT_EQ(scan.errors.size(), 1u);
    EXPECT_NE(scan.errors[0].find("/DCIM/"), std::string::npos) << scan.errors[0];
    EXPECT_EQ(scan.filesFound, 24);
    for (int i = 0; i < 40; ++i) {
        const bool inLostSector = i >= 14 && i < 30;
        EXPECT_EQ(scan.files.count("F" + std::to_string(100 + i) + ".JPG"), inLostSector ? 0u : 1u) << i;
    }
}

TEST_F(EngineTest, AFileRunningPastTheEndOfTheDriveIsSavedAsFarAsItGoesAndCalledIncomplete) {
    FatImageBuilder card(FatImageOptions::Fat16(64));
    card.AddFile(card.Root(), "WHOLE.JPG", PatternBytes(5000, 1));
    const auto photo = PatternBytes(300000, 2);
    const auto cut = card.AddFile(card.Root(), "CUT.JPG", photo);
    // The image ends 100,000 bytes into the second photo (on a sector boundary).
    const std::uint64_t length = card.ClusterOffset(cut.clusters[0]) + 100352;
    const ScanResult scan = Scan(Attach(std::make_shared<testcommon::SparseVolume>(card.Image(), 512, 0, length)));
    ASSERT_FALSE(scan.raised) << scan.errorText;
    ASSERT_EQ(scan.files.count("CUT.JPG"), 1u);
    const auto& saved = scan.files.at("CUT.JPG");
    EXPECT_GE(saved.size(), 98304u);
    EXPECT_LE(saved.size(), 100352u);
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), photo.begin()));
    ASSERT_EQ(scan.errors.size(), 1u);
    EXPECT_EQ(scan.errors[0].rfind("Incomplete: CUT.JPG", 0), 0u) << scan.errors[0];
    EXPECT_EQ(std::count(scan.events.begin(), scan.events.end(), "saved: CUT.JPG"), 0);
    EXPECT_EQ(std::count(scan.events.begin(), scan.events.end(), "saved: WHOLE.JPG"), 1);
}

TEST_F(EngineTest, TakenNamesNumberEachNameOnceAndStepOverFilesThatExist) {
    std::ofstream(root_ / "A (2).JPG") << "earlier";
    engine::TakenNames names;
    EXPECT_EQ(names.Take(root_.string(), "A.JPG"), "A.JPG");
    EXPECT_EQ(names.Take(root_.string(), "A.JPG"), "A (3).JPG");
    EXPECT_EQ(names.Take(root_.string() + "/", "A.JPG"), "A (4).JPG");
    EXPECT_EQ(names.Take(root_.string(), "A (4).JPG"), "A (4) (2).JPG");
}

} // namespace
} // namespace enginetest
