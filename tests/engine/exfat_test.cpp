// exFAT cards: the boot region and its backup, entry sets live and deleted,
// the clusters of a file (one run, a FAT chain, or the free clusters after a
// deleted file's first one), and whole turbo scans of builder cards.
#include <algorithm>
#include "EngineTestSupport.h"

#include <random>
#include <sys/stat.h>

#include "engine/ExFatAllocation.h"
#include "engine/ExFatEntrySet.h"
#include "engine/ExFatNameFinder.h"
#include "engine/Sha256.h"
#include "tests/common/ExFatImageBuilder.h"

namespace enginetest {
namespace {

using engine::ExFatChainEnd;
using testcommon::ExFatFileOptions;
using testcommon::ExFatImageBuilder;

TEST(ExFatClusters, RunsChainsAndDeletedFiles) {
    // Clusters 2..40 on the drive, 2..50 in the volume, 100-byte clusters.
    const engine::ExFatVolumeBounds bounds{40, 50, 100};
    std::vector<std::uint32_t> fat(41, 0);
    fat[10] = 11, fat[11] = 20, fat[20] = 0xFFFFFFFF;  // a chain in two pieces
    fat[30] = 31, fat[31] = 30;                         // a loop
    std::vector<std::uint8_t> bits(6, 0);
    auto use = [&](int c) { bits[static_cast<std::size_t>((c - 2) / 8)] |= std::uint8_t(1u << ((c - 2) % 8)); };
    use(12), use(13), use(25);
    const engine::ExFatBitmap bitmap(bits, 49);
    using Clusters = std::vector<std::int64_t>;
    auto clusters = [&](std::int64_t first, std::uint64_t bytes, bool contiguous, bool deleted) {
        return engine::ExFatFileClusters({first, bytes, contiguous, deleted}, fat, bitmap, bounds);
    };

    auto chain = clusters(10, 250, false, false);
    EXPECT_EQ(chain.Clusters, (Clusters{10, 11, 20}));
    EXPECT_EQ(chain.End, ExFatChainEnd::Whole);
    EXPECT_EQ(clusters(10, 400, false, false).End, ExFatChainEnd::ChainBroken);  // the chain ends first
    EXPECT_EQ(clusters(30, 500, false, false).End, ExFatChainEnd::ChainBroken);  // loops
    EXPECT_EQ(clusters(22, 300, true, false).Clusters, (Clusters{22, 23, 24}));
    EXPECT_EQ(clusters(39, 300, true, false).End, ExFatChainEnd::BeyondDrive);
    EXPECT_EQ(clusters(60, 100, true, false).End, ExFatChainEnd::ChainBroken);  // not in the volume
    // Deleted, chain gone: the free clusters after the first, around 12, 13.
    EXPECT_EQ(clusters(9, 600, false, true).Clusters, (Clusters{9, 10, 11, 14, 15, 16}));
    // Deleted, one run: it cannot skip, a cluster in use is another file's.
    chain = clusters(23, 500, true, true);
    EXPECT_EQ(chain.Clusters, (Clusters{23, 24}));
    EXPECT_EQ(chain.End, ExFatChainEnd::ClustersReused);
    // A hostile length asks for no more clusters than the volume has.
    EXPECT_LE(clusters(2, ~0ull, true, false).Clusters.size(), 50u);
    EXPECT_TRUE(clusters(5, 0, true, false).Clusters.empty());
}

std::vector<std::uint8_t> OneSet(const std::string& asciiName, bool deleted) {
    std::vector<std::uint8_t> set(96, 0);
    set[0] = 0x85, set[1] = 2, set[32] = 0xC0, set[33] = 3, set[64] = 0xC1;
    set[35] = static_cast<std::uint8_t>(asciiName.size());
    set[52] = 7;   // first cluster
    set[40] = set[56] = 100;  // lengths
    for (std::size_t k = 0; k < asciiName.size(); ++k) set[66 + 2 * k] = static_cast<std::uint8_t>(asciiName[k]);
    const std::uint16_t sum = testcommon::ExFatSetChecksum(set);
    set[2] = static_cast<std::uint8_t>(sum), set[3] = static_cast<std::uint8_t>(sum >> 8);
    if (deleted)
        for (std::size_t i = 0; i < set.size(); i += 32) set[i] &= 0x7F;
    return set;
}

TEST(ExFatEntrySets, OnlyWholeSetsWithTheirChecksumCount) {
    std::vector<std::uint8_t> dir;
    auto add = [&](const std::vector<std::uint8_t>& b) { dir.insert(dir.end(), b.begin(), b.end()); };
    add(OneSet("LIVE.JPG", false));
    add(OneSet("GONE.JPG", true));
    auto damaged = OneSet("BAD.JPG", false);
    damaged[70] ^= 1;  // a name bit flipped: the checksum no longer holds
    add(damaged);
    auto tooLong = OneSet("LONG.JPG", false);
    tooLong[35] = 16;  // a name of 16 units needs two name entries
    add(tooLong);
    add(OneSet("AFTER.JPG", false));
    dir.resize(dir.size() + 32, 0);  // end of directory
    add(OneSet("BEYOND.JPG", false));

    const auto contents = engine::ParseExFatDirectory(dir);
    ASSERT_EQ(contents.Sets.size(), 3u);
    EXPECT_EQ(contents.Sets[0].Name, "LIVE.JPG");
    EXPECT_FALSE(contents.Sets[0].Deleted);
    EXPECT_EQ(contents.Sets[1].Name, "GONE.JPG");
    EXPECT_TRUE(contents.Sets[1].Deleted);
    EXPECT_EQ(contents.Sets[1].FirstCluster, 7u);
    EXPECT_TRUE(contents.Sets[1].NoFatChain);
    EXPECT_EQ(contents.Sets[2].Name, "AFTER.JPG");
    EXPECT_TRUE(contents.Ended);
}

TEST(ExFatEntrySets, TimestampsWithTheirUtcOffset) {
    // 2024-05-01 12:30:02 at UTC+2 is 10:30:02 UTC; at UTC-3:30, 16:00:02.
    const std::uint32_t stamp = (std::uint32_t((44 << 9) | (5 << 5) | 1) << 16) | ((12 << 11) | (30 << 5) | 1);
    EXPECT_EQ(engine::ExFatTimestampSeconds(stamp, 0x80 | 8), 1714559402);
    EXPECT_EQ(engine::ExFatTimestampSeconds(stamp, 0x80 | (128 - 14)), 1714579202);
    EXPECT_EQ(engine::ExFatTimestampSeconds(stamp & 0xFFFF, 0x80), -1);  // month 0
    EXPECT_EQ(engine::ExFatTimestampSeconds(((41u << 9) | (2 << 5) | 29) << 16, 0x80), -1);  // 29 Feb 2021
}

class ExFatScanTest : public EngineTest {
protected:
    ScanResult ScanCard(ExFatImageBuilder& card, bool keepFolders = true,
                        std::vector<engine::SavedFATFile>* records = nullptr) {
        engine::UseFileTypeTableForTests({{"JPG", true}, {"MOV", true}});
        return Scan(Attach(card.Volume()), 64, keepFolders, [records](engine::FATEngine& engine) {
            if (records)
                engine.Events.OnSavedFATFile = [records](const engine::SavedFATFile& f) { records->push_back(f); };
        });
    }
};

TEST_F(ExFatScanTest, LiveAndDeletedFilesComeBackInTheirFolders) {
    ExFatImageBuilder card;
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto album = card.AddFolder(dcim, "100CANON", 1, false);
    const auto whole = PatternBytes(30000, 1);
    const auto chained = PatternBytes(50000, 2);
    const auto unicode = PatternBytes(9000, 3);
    const auto deletedRun = PatternBytes(20000, 4);
    const auto deletedPieces = PatternBytes(26000, 5);
    const auto reused = PatternBytes(8000, 6);
    card.AddFile(album, "IMG_0001.JPG", whole);
    ExFatFileOptions pieces;
    pieces.contiguous = false;
    pieces.fragmentEvery = 3;
    card.AddFile(album, "MVI_0002.MOV", chained, pieces);
    const std::string longName = "Ferien am Meer \xC3\xBC\xC3\xA9 \xF0\x9F\x93\xB7 und ein langer Name.jpg";
    card.AddFile(card.Root(), longName, unicode);
    card.Delete(card.AddFile(album, "GONE_RUN.JPG", deletedRun));
    card.Delete(card.AddFile(album, "GONE_PIECES.JPG", deletedPieces, pieces));
    const auto lost = card.AddFile(card.Root(), "REUSED.JPG", reused);
    card.Delete(lost);
    card.Occupy(card.FirstCluster(lost), 0x11);  // a later file took its first cluster
    // A deleted folder and its deleted file, both still free.
    const auto old = card.AddFolder(card.Root(), "OLD");
    const auto oldFile = card.AddFile(old, "OLD.JPG", PatternBytes(5000, 7));
    card.Delete(oldFile);
    card.Delete({card.Root(), 3});

    std::vector<engine::SavedFATFile> records;
    const ScanResult scan = ScanCard(card, true, &records);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_TRUE(scan.errors.empty()) << scan.errors.front();
    ASSERT_EQ(records.size(), 6u);
    for (const auto& record : records)
        EXPECT_EQ(record.Sha256, engine::Sha256OfFile(record.Folder + record.SavedName)) << record.SavedName;
    const std::map<std::string, std::vector<std::uint8_t>> expected = {
        {"DCIM/100CANON/IMG_0001.JPG", whole},     {"DCIM/100CANON/MVI_0002.MOV", chained},
        {longName, unicode},                       {"DCIM/100CANON/GONE_RUN.JPG", deletedRun},
        {"DCIM/100CANON/GONE_PIECES.JPG", deletedPieces}, {"OLD/OLD.JPG", PatternBytes(5000, 7)}};
    for (const auto& [name, bytes] : expected) {
        ASSERT_TRUE(scan.files.count(name)) << name;
        EXPECT_TRUE(scan.files.at(name) == bytes) << name;
    }
    EXPECT_EQ(scan.files.size(), expected.size());  // not REUSED.JPG
    EXPECT_EQ(scan.filesFound, 6);
    // The walk's lines name the file system the card has.
    const auto folderLine = std::find_if(scan.infos.begin(), scan.infos.end(),
                                         [](const std::string& line) { return line.find("Directory : DCIM") != std::string::npos; });
    ASSERT_NE(folderLine, scan.infos.end());
    EXPECT_EQ(folderLine->rfind("exFAT Directory : DCIM", 0), 0u) << *folderLine;

    // The write time to the 10 ms, in UTC: 12:30:03.55 at UTC+2.
    struct stat info{};
    ASSERT_EQ(::stat((Dest() / "DCIM/100CANON/IMG_0001.JPG").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1714559403);
    EXPECT_EQ(info.st_mtim.tv_nsec, 550000000);
}

TEST_F(ExFatScanTest, BackupBootRegionStandsInForADamagedOne) {
    ExFatImageBuilder card;
    card.AddFile(card.Root(), "A.JPG", PatternBytes(7000, 9));
    auto image = card.Build();
    image->SetByte(100, 0x77);  // serial number: the main region's checksum fails
    engine::UseFileTypeTableForTests({{"JPG", true}});
    const char letter = Attach(std::make_shared<testcommon::SparseVolume>(image, 512));
    const ScanResult scan = Scan(letter);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_EQ(scan.files.at("A.JPG"), PatternBytes(7000, 9));

    engine::FATEngine probe;
    probe.ReadDeviceBootSector(engine::DriveNumberFromLetter(letter));
    EXPECT_EQ(probe.FATType(), engine::FatTypeExFAT);
    EXPECT_EQ(probe.TraceLog(), std::vector<std::string>{"INVALID PRIMARY BOOT SECTOR"});
    EXPECT_EQ(probe.Layout().DeepScanStart(), probe.Layout().FirstDataSector);

    // Sector 0 wiped: the backup names itself.
    image->Fill(0, 0, 512);
    EXPECT_EQ(Scan(letter).files.at("A.JPG"), PatternBytes(7000, 9));

    // Both regions unusable: the turbo scan cannot go on.
    image->SetByte(12 * 512 + 108, 7);  // the backup's sector shift
    image->SetByte(108, 7);
    const ScanResult broken = Scan(letter);
    EXPECT_TRUE(broken.raised);
    EXPECT_EQ(broken.errorNumber, 10);
}

TEST_F(ExFatScanTest, FilesTheCardNoLongerHoldsWholeAreIncomplete) {
    ExFatImageBuilder card;
    ExFatFileOptions chained;
    chained.contiguous = false;
    const auto cut = card.AddFile(card.Root(), "CUT.MOV", PatternBytes(40000, 1), chained);
    ExFatFileOptions preallocated;
    preallocated.validLength = 10000;  // a recording that stopped early
    card.AddFile(card.Root(), "REC.MOV", PatternBytes(30000, 2), preallocated);
    const auto huge = card.AddFile(card.Root(), "HUGE.MOV", PatternBytes(100, 3));
    auto image = card.Build();
    // HUGE.MOV claims a terabyte: damage, not a file.
    const std::uint64_t set = card.EntryOffset(huge);
    auto bytes = image->Read(set, 96);
    bytes[40 + 5] = bytes[56 + 5] = 1;
    const std::uint16_t sum = testcommon::ExFatSetChecksum(bytes);
    bytes[2] = static_cast<std::uint8_t>(sum), bytes[3] = static_cast<std::uint8_t>(sum >> 8);
    image->Write(set, bytes.data(), bytes.size());
    // The chain of CUT.MOV ends after its fourth cluster.
    const std::int64_t fourth = card.FirstCluster(cut) + 3;
    const std::uint64_t fatEntry = 128 * 512 + std::uint64_t(fourth) * 4;
    for (int i = 0; i < 4; ++i) image->SetByte(fatEntry + std::uint64_t(i), 0xFF);

    engine::UseFileTypeTableForTests({{"MOV", true}});
    const ScanResult scan = Scan(Attach(std::make_shared<testcommon::SparseVolume>(image, 512)));
    ASSERT_FALSE(scan.raised) << scan.errorText;
    const auto recording = PatternBytes(30000, 2);
    EXPECT_EQ(scan.files.at("REC.MOV"), std::vector<std::uint8_t>(recording.begin(), recording.begin() + 10000));
    const auto whole = PatternBytes(40000, 1);
    EXPECT_EQ(scan.files.at("CUT.MOV"), std::vector<std::uint8_t>(whole.begin(), whole.begin() + 4 * 4096));
    EXPECT_FALSE(scan.files.count("HUGE.MOV"));
    ASSERT_EQ(scan.errors.size(), 1u);
    EXPECT_EQ(scan.errors[0].rfind("Incomplete: CUT.MOV: its cluster chain ends", 0), 0u) << scan.errors[0];
}

TEST_F(ExFatScanTest, FoldersThatLoopOrAliasEndTheWalk) {
    ExFatImageBuilder card;
    const auto a = card.AddFolder(card.Root(), "A", 1, false);
    card.AddFile(a, "IN_A.JPG", PatternBytes(3000, 1));
    auto image = card.Build();
    // The root's second cluster leads back to its first, and folder A's
    // only cluster names the root's first cluster as its next.
    const std::int64_t root = 2 + 1 + 1;  // after the bitmap and the up-case table
    for (int i = 0; i < 4; ++i) image->SetByte(128 * 512 + std::uint64_t(root + 1) * 4 + std::uint64_t(i), static_cast<std::uint8_t>(root >> (8 * i)));
    // A's entry says it is 1 MiB long, and its cluster leads to the root's.
    const std::uint64_t set = card.EntryOffset({card.Root(), 0});
    auto bytes = image->Read(set, 96);
    bytes[56 + 2] = 0x10;
    const std::uint16_t sum = testcommon::ExFatSetChecksum(bytes);
    bytes[2] = static_cast<std::uint8_t>(sum), bytes[3] = static_cast<std::uint8_t>(sum >> 8);
    image->Write(set, bytes.data(), bytes.size());
    const std::int64_t aCluster = root + 2;
    for (int i = 0; i < 4; ++i) image->SetByte(128 * 512 + std::uint64_t(aCluster) * 4 + std::uint64_t(i), static_cast<std::uint8_t>(root >> (8 * i)));
    const ScanResult scan = Scan(Attach(std::make_shared<testcommon::SparseVolume>(image, 512)), 64, true);
    EXPECT_FALSE(scan.raised) << scan.errorText;
    EXPECT_LE(scan.files.size(), 1u);
}

TEST_F(ExFatScanTest, DamagedBootFieldsFatsAndEntrySetsEndCleanly) {
    testcommon::ExFatImageOptions small;
    small.totalSectors = 8192;
    ExFatImageBuilder card(small);
    const auto dcim = card.AddFolder(card.Root(), "DCIM", 1, false);
    ExFatFileOptions pieces;
    pieces.contiguous = false;
    pieces.fragmentEvery = 2;
    std::vector<testcommon::ExFatEntryRef> sets{{card.Root(), 0}};
    sets.push_back(card.AddFile(dcim, "A.JPG", PatternBytes(20000, 1), pieces));
    sets.push_back(card.AddFile(dcim, "B.JPG", PatternBytes(9000, 2)));
    card.Delete(sets.back());
    sets.push_back(card.AddFile(card.Root(), "C.JPG", PatternBytes(5000, 3), pieces));
    card.Delete(sets.back(), false);
    const auto pristine = card.Build()->Bytes();
    const std::uint64_t fatStart = 128 * 512;
    engine::UseFileTypeTableForTests({{"JPG", true}});
    std::mt19937 random(27);
    for (int mutant = 0; mutant < 150; ++mutant) {
        auto image = std::make_shared<testcommon::SparseImage>(pristine.size());
        image->Write(0, pristine.data(), pristine.size());
        const auto pick = [&](std::uint64_t from, std::uint64_t count) { return from + random() % count; };
        const auto value = [&] {
            static constexpr std::uint8_t Interesting[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0xFE, 0x10, 0x85, 0x05, 0xC1, 0x2F};
            return random() % 2 ? Interesting[random() % sizeof Interesting] : static_cast<std::uint8_t>(random());
        };
        for (int k = 0, n = 1 + static_cast<int>(random() % 6); k < n; ++k) {
            switch (random() % 3) {
            case 0: image->SetByte(pick(64, 48), value()); break;  // the boot sector's fields
            case 1: image->SetByte(pick(fatStart, 64), value()); break;
            default: {
                // An entry set, with its checksum made to match again most times.
                const std::uint64_t set = card.EntryOffset(sets[random() % sets.size()]);
                image->SetByte(pick(set, 96), value());
                if (random() % 4) {
                    auto bytes = image->Read(set, 96);
                    const bool deleted = !(bytes[0] & 0x80);
                    for (std::size_t i = 0; deleted && i < 96; i += 32) bytes[i] |= 0x80;
                    const std::uint16_t sum = testcommon::ExFatSetChecksum(bytes);
                    image->SetByte(set + 2, static_cast<std::uint8_t>(sum));
                    image->SetByte(set + 3, static_cast<std::uint8_t>(sum >> 8));
                }
            }
            }
        }
        // The backup region goes too, now and then, so that it cannot help.
        if (random() % 3 == 0) image->SetByte(12 * 512 + pick(64, 48), value());
        fs::remove_all(Dest());
        platform::ResetDrives();
        engine::ResetDriveTable();
        const ScanResult scan = Scan(Attach(std::make_shared<testcommon::SparseVolume>(image, 512)), 64, mutant % 2);
        EXPECT_TRUE(!scan.raised || scan.errorNumber == 10 || scan.errorNumber == 12 || scan.errorNumber == 14)
            << "mutant " << mutant << ": " << scan.errorNumber << " " << scan.errorText;
        for (const auto& [path, bytes] : scan.files) {
            EXPECT_EQ(path.find(".."), std::string::npos) << path;
            EXPECT_LE(bytes.size(), pristine.size()) << path;
        }
    }
}

} // namespace
} // namespace enginetest

namespace enginetest {
namespace {

// The deep scan's names: the sets found in the blocks of one pass, before
// and after the root was rewritten by a quick format.
TEST(ExFatNames, CarvedFilesAreNamedByTheSetsFoundInThePass) {
    ExFatImageBuilder card;
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto album = card.AddFolder(dcim, "100CANON");
    const auto photo = card.AddFile(album, "IMG_0001.JPG", PatternBytes(9000, 1));
    const auto gone = card.AddFile(album, "IMG_0002.JPG", PatternBytes(9000, 2));
    card.Delete(gone);
    auto image = card.Build();
    const std::int64_t heap = card.ClusterOffset(2);
    const std::int64_t root = 4;  // after the bitmap and the up-case table
    auto pass = [&] {
        engine::ExFatNameFinder names(heap, card.ClusterBytes(), 4075, root);
        for (std::int64_t at = heap; at < heap + 4075 * card.ClusterBytes(); at += 65536) {
            const auto block = image->Read(static_cast<std::uint64_t>(at), 65536);
            names.AddBlock(at, block.data(), block.size());
        }
        return names;
    };
    const auto names = pass();
    const auto* first = names.FileAt(card.ClusterOffset(card.FirstCluster(photo)));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Path, "DCIM/100CANON/IMG_0001.JPG");
    EXPECT_EQ(first->Set.DataLength, 9000u);
    const auto* second = names.FileAt(card.ClusterOffset(card.FirstCluster(gone)));
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->Set.Deleted);
    EXPECT_EQ(names.FileAt(card.ClusterOffset(card.FirstCluster(photo)) + 512), nullptr);

    // A quick format writes a new, empty root: DCIM's own name is gone.
    image->Fill(static_cast<std::uint64_t>(card.ClusterOffset(root)), 0, static_cast<std::uint64_t>(card.ClusterBytes()));
    const auto afterFormat = pass();
    const std::int64_t dcimCluster = card.FirstCluster({card.Root(), 0});
    EXPECT_EQ(afterFormat.FileAt(card.ClusterOffset(card.FirstCluster(photo)))->Path,
              "Folder " + std::to_string(dcimCluster) + "/100CANON/IMG_0001.JPG");
    (void)dcim;
}

} // namespace
} // namespace enginetest
