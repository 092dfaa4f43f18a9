// Cards made by other tools: mkfs.fat formats them and mtools writes and
// deletes the files, so the engine is checked against layouts it did not
// make itself. Images made by our own builder must pass fsck.fat.
#include "EngineTestSupport.h"

#include <cstdlib>
#include <random>

namespace enginetest {
namespace {

bool HaveTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string Quote(const std::string& text) { return "'" + text + "'"; }

class IndependentImagesTest : public EngineTest, public ::testing::WithParamInterface<int> {
protected:
    void WriteLocal(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

TEST_P(IndependentImagesTest, MkfsAndMtoolsCardsComeBackByteIdentical) {
    if (!HaveTool("mkfs.fat") || !HaveTool("mcopy")) GTEST_SKIP() << "dosfstools or mtools missing (scripts/setup)";
    const int bits = GetParam();
    const fs::path image = root_ / "card.img";
    const std::string sizeMiB = bits == 12 ? "4" : bits == 16 ? "32" : "64";
    ASSERT_EQ(Shell("truncate -s " + sizeMiB + "M " + Quote(image)), 0);
    ASSERT_EQ(Shell("mkfs.fat -F " + std::to_string(bits) + (bits == 32 ? " -s 1" : "") + " -n CARD " + Quote(image)), 0);
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    const std::string m = " -i " + Quote(image) + " ";
    ASSERT_EQ(Shell("mmd" + m + "::/DCIM"), 0);
    ASSERT_EQ(Shell("mmd" + m + "::/DCIM/100CANON"), 0);

    const fs::path local = root_ / "local";
    fs::create_directories(local);
    std::map<std::string, std::vector<std::uint8_t>> expected;  // name as recovered
    std::mt19937 random(static_cast<unsigned>(bits));
    const int count = bits == 12 ? 8 : 24;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        const std::string name = i % 5 == 4 ? "Holiday photo " + std::to_string(i) + ".jpg"
                                            : "IMG_" + std::to_string(1000 + i) + ".JPG";
        const std::size_t size = 1000 + random() % (bits == 12 ? 60000 : 300000);
        const auto bytes = PatternBytes(size, static_cast<std::uint32_t>(bits * 100 + i));
        WriteLocal(local / name, bytes);
        const std::string folder = i % 3 == 0 ? "::/" : "::/DCIM/100CANON/";
        ASSERT_EQ(Shell("mcopy" + m + Quote((local / name).string()) + " " + Quote(folder + name)), 0) << name;
        expected[name] = bytes;
        names.push_back(folder + name);
    }
    // Delete a third of them, last ones first, and write nothing after: the
    // deleted files' clusters are not reused.
    for (int i = 1; i < count; i += 3) {
        ASSERT_EQ(Shell("mdel" + m + Quote(names[static_cast<std::size_t>(i)])), 0);
    }
    engine::UseFileTypeTableForTests({{"JPG", true}});
    auto v = std::make_shared<testcommon::SparseVolume>(
        [&] {
            auto img = std::make_shared<testcommon::SparseImage>(fs::file_size(image));
            const auto bytes = ReadAll(image);
            img->Write(0, bytes.data(), bytes.size());
            return img;
        }(),
        512);
    const ScanResult scan = Scan(Attach(v));
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_TRUE(scan.errors.empty()) << scan.errors.front();
    for (const auto& [name, bytes] : expected) {
        ASSERT_TRUE(scan.files.count(name)) << name;
        EXPECT_EQ(scan.files.at(name), bytes) << name;
    }
    EXPECT_EQ(scan.files.size(), expected.size());
}

INSTANTIATE_TEST_SUITE_P(Fat12Fat16Fat32, IndependentImagesTest, ::testing::Values(12, 16, 32));

// A card filled with files, every second one deleted, photos written into
// the gaps (so each lies in two or three pieces around files that stayed)
// and then deleted: every photo comes back whole.
TEST_P(IndependentImagesTest, DeletedPhotosWrittenIntoGapsComeBackWhole) {
    if (!HaveTool("mkfs.fat") || !HaveTool("mcopy")) GTEST_SKIP() << "dosfstools or mtools missing (scripts/setup)";
    const int bits = GetParam();
    const fs::path image = root_ / "card.img";
    ASSERT_EQ(Shell("truncate -s " + std::string(bits == 12 ? "4" : bits == 16 ? "16" : "40") + "M " + Quote(image)), 0);
    ASSERT_EQ(Shell("mkfs.fat -F " + std::to_string(bits) + (bits == 32 ? " -s 1" : "") + " -n CARD " + Quote(image)), 0);
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    const std::string m = " -i " + Quote(image) + " ";
    const fs::path local = root_ / "local";
    fs::create_directories(local);
    const std::size_t unit = bits == 12 ? 20000 : 100000;
    int written = 0;
    for (; written < 1000; ++written) {  // until the card is full
        const std::string name = "FILL" + std::to_string(written) + ".BIN";
        WriteLocal(local / name, PatternBytes(unit + std::size_t(written % 3) * unit / 2, std::uint32_t(written)));
        if (Shell("mcopy" + m + Quote((local / name).string()) + " ::/" + name) != 0) break;
    }
    for (int i = 1; i < written; i += 2) ASSERT_EQ(Shell("mdel" + m + "::/FILL" + std::to_string(i) + ".BIN"), 0);
    std::map<std::string, std::vector<std::uint8_t>> photos;
    for (int i = 1; i <= 12; ++i) {
        const std::string name = "Photo " + std::to_string(i) + ".jpg";
        photos[name] = PatternBytes(2 * unit + unit / 3 * static_cast<std::size_t>(i % 4), 500u + static_cast<std::uint32_t>(i));
        WriteLocal(local / name, photos[name]);
        ASSERT_EQ(Shell("mcopy" + m + Quote((local / name).string()) + " " + Quote("::/" + name)), 0) << name;
    }
    for (const auto& [name, bytes] : photos) ASSERT_EQ(Shell("mdel" + m + Quote("::/" + name)), 0);

    engine::UseFileTypeTableForTests({{"JPG", true}});
    auto img = std::make_shared<testcommon::SparseImage>(fs::file_size(image));
    const auto bytes = ReadAll(image);
    img->Write(0, bytes.data(), bytes.size());
    const ScanResult scan = Scan(Attach(std::make_shared<testcommon::SparseVolume>(img, 512)));
    ASSERT_FALSE(scan.raised) << scan.errorText;
    EXPECT_TRUE(scan.errors.empty()) << scan.errors.front();
    for (const auto& [name, expected] : photos) {
        ASSERT_TRUE(scan.files.count(name)) << name;
        EXPECT_TRUE(scan.files.at(name) == expected) << name;
    }
}

TEST_F(EngineTest, BuilderImagesPassFsck) {
    if (!HaveTool("fsck.fat")) GTEST_SKIP() << "dosfstools missing (scripts/setup)";
    const FatImageOptions kinds[] = {FatImageOptions::Fat12(), FatImageOptions::Fat16(64), FatImageOptions::Fat32(64),
                                     FatImageOptions::Fat16(64, 2048)};
    int k = 0;
    for (const auto& options : kinds) {
        FatImageBuilder card(options);
        const auto dcim = card.AddFolder(card.Root(), "DCIM");
        const auto album = card.AddFolder(dcim, "100MSDCF");
        for (int i = 0; i < 40; ++i)
            card.AddFile(album, i % 4 ? "DSC" + std::to_string(10000 + i) + ".JPG" : "Long name " + std::to_string(i) + ".jpeg",
                         PatternBytes(3000 + 977 * i, i));
        FileOptions fragments;
        fragments.fragmentEvery = 3;
        card.AddFile(card.Root(), "FRAG.MOV", PatternBytes(50000, 99), fragments);
        const fs::path path = root_ / ("builder" + std::to_string(k++) + ".img");
        card.WriteFile(path.string());
        EXPECT_EQ(Shell("fsck.fat -n " + Quote(path.string())), 0) << path;
    }
}

} // namespace
} // namespace enginetest
