// The record of each saved file: its path on the card, deleted flag, entry
// times and the byte runs it was read from.
#include "EngineTestSupport.h"

namespace enginetest {
namespace {

using SavedFileRecordTest = EngineTest;

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

} // namespace
} // namespace enginetest
