// The record of each saved file: its path on the card, deleted flag, entry
// times, the byte runs it was read from and the digest of what was written.
#include <sys/resource.h>

#include <csignal>

#include "EngineTestSupport.h"
#include "engine/Sha256.h"

namespace enginetest {
namespace {

using SavedFileRecordTest = EngineTest;

std::string Sha256Of(const std::vector<std::uint8_t>& bytes) {
    engine::Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

// The records with their other events, in the order the host got them.
struct RecordLog {
    std::vector<engine::SavedFATFile> records;
    std::vector<std::string> events;
    void Listen(engine::FATEngine& engine) {
        engine.Events.OnSavedFATFile = [this](const engine::SavedFATFile& f) {
            records.push_back(f);
            events.push_back("record: " + f.SavedName);
        };
        engine.Events.OnFoundFATFile = [this](const std::string&, const std::string& name) {
            events.push_back("saved: " + name);
        };
        engine.Events.OnProgress = [this](std::int32_t n) { events.push_back("progress: " + std::to_string(n)); };
    }
};

TEST_F(SavedFileRecordTest, RunsAndPathsSayWhereEachFileCameFrom) {
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;
    FatImageBuilder card(o);
    auto dcim = card.AddFolder(card.Root(), "DCIM");
    auto camera = card.AddFolder(dcim, "100CAMERA");
    const auto fragmented = PatternBytes(5 * 512 + 100, 1);
    FileOptions split;
    split.fragmentEvery = 2;
    split.fragmentGap = 3;
    split.writeDate = (44 << 9) | (5 << 5) | 1;  // 2024-05-01
    card.AddFile(camera, "IMG_0001.JPG", fragmented, split);
    const auto lost = PatternBytes(3 * 512, 2);
    card.Delete(card.AddFile(camera, "IMG_0002.JPG", lost), true);
    const fs::path image = root_ / "card.img";
    card.WriteFile(image.string());

    std::vector<engine::SavedFATFile> saved;
    Scan(Attach(card), 64, true, [&saved](engine::FATEngine& engine) {
        engine.Events.OnSavedFATFile = [&saved](const engine::SavedFATFile& f) { saved.push_back(f); };
    });
    ASSERT_EQ(saved.size(), 2u);
    const auto bytesOfRuns = [&image](const engine::SavedFATFile& f) {
        std::ifstream in(image, std::ios::binary);
        std::vector<std::uint8_t> bytes;
        for (const auto& run : f.Runs) {
            std::vector<std::uint8_t> part(static_cast<std::size_t>(run.Length));
            in.seekg(run.Offset);
            in.read(reinterpret_cast<char*>(part.data()), run.Length);
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        return bytes;
    };
    EXPECT_EQ(saved[0].CardPath, "DCIM/100CAMERA/IMG_0001.JPG");
    EXPECT_FALSE(saved[0].Deleted);
    EXPECT_EQ(saved[0].Runs.size(), 3u);  // 2 + 2 + 2 clusters, with gaps between
    EXPECT_EQ(bytesOfRuns(saved[0]), fragmented);
    EXPECT_EQ(saved[0].WriteDate, split.writeDate);
    EXPECT_EQ(saved[0].Folder + saved[0].SavedName, Dest().string() + "/DCIM/100CAMERA/IMG_0001.JPG");
    // The deleted entry's first letter is what the name lists make of it.
    EXPECT_EQ(saved[1].CardPath.substr(0, 15), "DCIM/100CAMERA/");
    EXPECT_EQ(saved[1].CardPath.substr(16), "MG_0002.JPG");
    EXPECT_TRUE(saved[1].Deleted);
    EXPECT_EQ(bytesOfRuns(saved[1]), lost);
}

// The digests are taken behind the scan while it reads the next files: each
// record still carries that of its own file, over all of its runs, and
// comes in its place among the events.
TEST_F(SavedFileRecordTest, EachRecordCarriesTheDigestOfItsFileAndComesInItsPlace) {
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;
    FatImageBuilder card(o);
    std::vector<std::vector<std::uint8_t>> bytes;
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) {
        bytes.push_back(PatternBytes(i == 4 ? 0 : 1500 + 700 * i, i + 1));
        FileOptions split;
        split.fragmentEvery = 3;
        const std::string name = "IMG_000" + std::to_string(i) + ".JPG";
        card.AddFile(card.Root(), name, bytes.back(), split);
        for (const char* event : {"record: ", "saved: "}) expected.push_back(event + name);
        expected.push_back("progress: " + std::to_string(i + 1));
    }
    RecordLog log;
    const ScanResult scan = Scan(Attach(card), 2, false, [&log](engine::FATEngine& e) { log.Listen(e); });
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_EQ(log.events, expected);
    ASSERT_EQ(log.records.size(), bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(log.records[i].Sha256, Sha256Of(bytes[i])) << i;
        EXPECT_EQ(log.records[i].Sha256, engine::Sha256OfFile(log.records[i].Folder + log.records[i].SavedName)) << i;
    }
}

// A file whose write fails midway (past a file-size limit, after its first
// block went out) has no record, and the files around it keep theirs.
TEST_F(SavedFileRecordTest, AFileWhoseWriteFailsMidwayHasNoRecord) {
    FatImageBuilder card(FatImageOptions::Fat16(16));
    const auto first = PatternBytes(1200000, 1);
    const auto last = PatternBytes(1000, 3);
    card.AddFile(card.Root(), "IMG_0001.JPG", first);
    card.AddFile(card.Root(), "IMG_0002.JPG", PatternBytes(3000000, 2));
    card.AddFile(card.Root(), "IMG_0003.JPG", last);
    const char letter = Attach(card);
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const rlimit limit{1500000, before.rlim_max};
    const auto signal = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    RecordLog log;
    const ScanResult scan = Scan(letter, 64, false, [&log](engine::FATEngine& e) { log.Listen(e); });
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, signal);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].Sha256, Sha256Of(first));
    EXPECT_EQ(log.records[1].SavedName, "IMG_0003.JPG");
    EXPECT_EQ(log.records[1].Sha256, Sha256Of(last));
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "saved: IMG_0002.JPG"), 0);
    EXPECT_EQ(scan.files.size(), 2u);
    ASSERT_EQ(scan.errors.size(), 1u);
    EXPECT_NE(scan.errors[0].find("Could not write"), std::string::npos) << scan.errors[0];
}

} // namespace
} // namespace enginetest
