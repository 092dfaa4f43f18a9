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
