// Saving: runs of adjacent clusters, the sectors-at-once limit, cleared and
// short chains, read failures and pause.
#include "EngineTestSupport.h"

namespace enginetest {
namespace {

class FileSavingTest : public EngineTest {
protected:
    // The data reads at or after a sector (the FAT and directory reads come before).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> DataReads(std::uint64_t fromSector) const {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
        for (const auto& r : volume->reads)
            if (r.sector >= fromSector) out.emplace_back(r.sector, r.sectors);
        return out;
    }
};

TEST_F(FileSavingTest, AdjacentClustersAreReadInOneCall) {
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;
    FatImageBuilder card(o);
    const auto bytes = PatternBytes(4 * 512, 1);
    FileOptions at;
    at.clusters = {200, 201, 202, 210};
    card.AddFile(card.Root(), "IMG_0001.JPG", bytes, at);
    const ScanResult scan = Scan(card, 64);
    EXPECT_EQ(scan.files.at("IMG_0001.JPG"), bytes);
    const auto reads = DataReads(card.ClusterSector(200));
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].first, card.ClusterSector(200));
    EXPECT_EQ(reads[0].second, 3u);
    EXPECT_EQ(reads[1].first, card.ClusterSector(210));
    EXPECT_EQ(reads[1].second, 1u);
}

TEST_F(FileSavingTest, RunsStopAtSectorsAtOnceRoundedToClusters) {
    FatImageOptions o = FatImageOptions::Fat16(128);
    o.sectorsPerCluster = 8;
    FatImageBuilder card(o);
    const auto bytes = PatternBytes(20 * 8 * 512, 2);
    const auto ref = card.AddFile(card.Root(), "MVI_0001.MOV", bytes);
    const ScanResult scan = Scan(card, 64);
    EXPECT_EQ(scan.files.at("MVI_0001.MOV"), bytes);
    const auto reads = DataReads(card.ClusterSector(ref.clusters[0]));
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].second, 64u);
    EXPECT_EQ(reads[1].second, 64u);
    EXPECT_EQ(reads[2].second, 32u);
    EXPECT_EQ(reads[1].first, reads[0].first + 64);
}

TEST_F(FileSavingTest, SizeIsCutToTheChainWhenItEndsEarly) {
    FatImageBuilder card(FatImageOptions::Fat16(64));  // 2 KiB clusters
    ASSERT_EQ(card.BytesPerCluster(), 2048u);
    const auto bytes = PatternBytes(20480, 3);
    FileOptions big;
    big.sizeOverride = 1000000;
    card.AddFile(card.Root(), "IMG_0001.JPG", bytes, big);
    const ScanResult scan = Scan(card);
    EXPECT_EQ(scan.files.at("IMG_0001.JPG"), bytes);
}

// A run that cannot be read is read sector by sector: only the sectors
// that fail are zeros, and the file is said to be incomplete.
TEST_F(FileSavingTest, OnlyUnreadableSectorsBecomeZerosAndTheFileIsIncomplete) {
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;
    FatImageBuilder card(o);
    auto bytes = PatternBytes(6 * 512 - 100, 4);
    FileOptions at;
    at.clusters = {300, 301, 310, 320, 321, 330};
    card.AddFile(card.Root(), "IMG_0001.JPG", bytes, at);
    auto v = card.Volume();
    v->failingSectors = {card.ClusterSector(301), card.ClusterSector(330)};
    const char letter = Attach(v);
    const ScanResult scan = Scan(letter, 64);
    std::fill(bytes.begin() + 512, bytes.begin() + 1024, 0);  // cluster 301 alone
    std::fill(bytes.begin() + 5 * 512, bytes.end(), 0);       // cluster 330, 412 bytes of the file
    EXPECT_EQ(scan.files.at("IMG_0001.JPG"), bytes);
    int first = 0, last = 0;
    for (const auto& r : volume->reads) {
        first += r.sector == card.ClusterSector(300);
        last += r.sector == card.ClusterSector(330);
    }
    EXPECT_EQ(first, 5);  // the first failing run four times, then its first sector alone
    EXPECT_EQ(last, 2);   // a later failing run once, then sector by sector
    ASSERT_EQ(scan.errors.size(), 1u);
    EXPECT_EQ(scan.errors[0].rfind("Incomplete: IMG_0001.JPG: 924 bytes could not be read", 0), 0u) << scan.errors[0];
    EXPECT_EQ(std::count(scan.events.begin(), scan.events.end(), "saved: IMG_0001.JPG"), 0);
}

// Pumps the pause away after a few rounds, counting what was read meanwhile.
class ResumingUi : public platform::ScriptedUi {
public:
    void DoEvents() override {
        platform::ScriptedUi::DoEvents();
        if (!engine || !paused) return;
        if (readsAtPause < 0) readsAtPause = static_cast<long>(volume->reads.size());
        if (++pausedPumps == 3) {
            readsWhilePaused = static_cast<long>(volume->reads.size()) - readsAtPause;
            paused = false;
            engine->ResumeScan();
        }
    }
    engine::FATEngine* engine = nullptr;
    testcommon::SparseVolume* volume = nullptr;
    bool paused = false;
    long readsAtPause = -1;
    long readsWhilePaused = -1;
    int pausedPumps = 0;
};

TEST_F(FileSavingTest, PauseHoldsTheSavingLoopUntilResumed) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const auto bytes = PatternBytes(10000, 5);
    card.AddFile(card.Root(), "IMG_0001.JPG", bytes);
    const char letter = Attach(card);
    ResumingUi resuming;
    platform::SetUi(&resuming);
    engine::FATEngine e;
    resuming.engine = &e;
    resuming.volume = volume.get();
    e.SetDestFolder(Dest().string() + "/");
    e.Events.OnFATFilesFound = [&](std::int32_t) {
        e.PauseScan();
        resuming.paused = true;
    };
    e.PreScan(std::string(1, letter), support::False);
    platform::SetUi(&ui);
    EXPECT_EQ(resuming.pausedPumps, 3);
    EXPECT_EQ(resuming.readsWhilePaused, 0);
    EXPECT_EQ(ReadAll(Dest() / "IMG_0001.JPG"), bytes);
}

TEST_F(FileSavingTest, ADeletedFileWithAClearedChainComesFromTheFollowingClusters) {
    FatImageOptions o = FatImageOptions::Fat32(64);
    FatImageBuilder card(o);
    const auto bytes = PatternBytes(card.BytesPerCluster() * 7 + 100, 6);
    card.Delete(card.AddFile(card.Root(), "DSC00001.JPG", bytes), true);
    const ScanResult scan = Scan(card);
    EXPECT_EQ(scan.files.at("DSC00001.JPG"), bytes);
}

// A deleted photo written into the gaps between files that stayed: its
// clusters are the free ones after its first, those of the other files are
// stepped over, and at the volume's end they go on from its start.
TEST_F(FileSavingTest, ADeletedFileGoesOnInTheFreeClustersPastFilesThatStayed) {
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;
    FatImageBuilder card(o);
    const std::uint32_t last = card.CountOfClusters() + 1;
    const auto photo = PatternBytes(5 * 512 - 7, 7);
    const auto wrapping = PatternBytes(4 * 512, 8);
    FileOptions at;
    at.clusters = {100, 101, 104, 105, 108};
    const auto first = card.AddFile(card.Root(), "DSC00001.JPG", photo, at);
    at.clusters = {last - 2, last, 2, 3};
    const auto second = card.AddFile(card.Root(), "DSC00002.JPG", wrapping, at);
    for (const std::vector<std::uint32_t>& kept : {std::vector<std::uint32_t>{102, 103}, {106, 107}, {last - 1}}) {
        at.clusters = kept;
        card.AddFile(card.Root(), "KEPT" + std::to_string(kept[0]) + ".JPG", PatternBytes(512 * kept.size(), 9), at);
    }
    card.Delete(first, true);
    card.Delete(second, true);
    const ScanResult scan = Scan(card);
    EXPECT_EQ(scan.files.at("DSC00001.JPG"), photo);
    EXPECT_EQ(scan.files.at("DSC00002.JPG"), wrapping);
    EXPECT_TRUE(scan.errors.empty()) << scan.errors.front();
}

} // namespace
} // namespace enginetest
