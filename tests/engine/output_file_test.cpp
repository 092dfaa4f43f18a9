// Saved files reach their names only whole, never in place of another
// file; a destination on the card being read is recognised; a destination
// removed mid-run ends the turbo scan.
#include "EngineTestSupport.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "engine/NewOutputFile.h"
#include "engine/SameStorage.h"

namespace enginetest {
namespace {

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteText(engine::NewOutputFile& file, std::string text) {
    return file.Write(reinterpret_cast<BYTE*>(text.data()), text.size(), 0, static_cast<std::int32_t>(text.size()));
}

TEST_F(EngineTest, NewOutputFilesAreNamedOnlyWholeAndNeverReplaceAFile) {
    // A folder name that is not UTF-8 works like any other.
    const fs::path folder = root_ / "out\xff";
    fs::create_directories(folder);
    {
        engine::NewOutputFile file;
        std::string why;
        ASSERT_TRUE(file.Open(folder.string(), &why)) << why;
        ASSERT_TRUE(WriteText(file, "ours"));
        // While it is written, no name in the folder stands for it.
        ASSERT_EQ(Names(folder).size(), 1u);
        EXPECT_EQ(Names(folder)[0].rfind(".tranquo-", 0), 0u);
        // Another run takes the name meanwhile.
        std::ofstream(folder / "IMG.JPG") << "theirs";
        ASSERT_TRUE(file.Close());
        EXPECT_EQ(file.Commit("IMG.JPG", [] { return std::string("IMG (2).JPG"); }, &why), "IMG (2).JPG");
        EXPECT_EQ(Text(folder / "IMG.JPG"), "theirs");
        EXPECT_EQ(Text(folder / "IMG (2).JPG"), "ours");
    }
    {
        // Without another name to take, a taken name is a failure that says so.
        engine::NewOutputFile file;
        ASSERT_TRUE(file.Open(folder.string(), nullptr));
        ASSERT_TRUE(WriteText(file, "x"));
        std::string why;
        EXPECT_EQ(file.Commit("IMG.JPG", {}, &why), "");
        EXPECT_NE(why.find("File exists"), std::string::npos) << why;
    }
    {
        // Abandoned midway (an error thrown): nothing is left behind.
        engine::NewOutputFile file;
        ASSERT_TRUE(file.Open(folder.string(), nullptr));
        ASSERT_TRUE(WriteText(file, "half"));
    }
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"IMG (2).JPG", "IMG.JPG"}));

    std::string why;
    engine::NewOutputFile missing;
    EXPECT_FALSE(missing.Open((root_ / "no such folder").string(), &why));
    EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;
}

// A small sysfs: disk sdb (8:16) with partition sdb1 (8:17), disk sdc
// (8:32), dm-0 (254:0) mapped over sdb1, loop0 (7:0) backed by an image.
// Large pieces are hashed on another thread while they are written: the
// digest must still be that of the bytes in their order.
TEST_F(EngineTest, TheDigestOfAFileIsThatOfItsBytesInOrderWhateverThePieces) {
    std::vector<BYTE> bytes(3 * 1024 * 1024 + 77);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>((i * 2654435761u) >> 13);
    const std::size_t pieces[] = {10, 1 << 20, 100, 300000, 1 << 20, 5, bytes.size()};
    engine::NewOutputFile file;
    std::string why;
    ASSERT_TRUE(file.Open(root_.string(), &why)) << why;
    for (std::size_t at = 0, i = 0; at < bytes.size(); ++i) {
        const std::size_t count = std::min(pieces[i], bytes.size() - at);
        ASSERT_TRUE(file.Write(bytes.data(), bytes.size(), static_cast<std::int32_t>(at),
                               static_cast<std::int32_t>(count)));
        at += count;
    }
    ASSERT_TRUE(file.Close());
    ASSERT_EQ(file.Commit("pieces.bin", {}, &why), "pieces.bin") << why;
    const std::string digest = file.Digest();
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest, engine::Sha256OfFile((root_ / "pieces.bin").string()));

    // A large piece that is not inside its buffer is refused: no digest.
    engine::NewOutputFile failed;
    ASSERT_TRUE(failed.Open(root_.string(), &why)) << why;
    EXPECT_FALSE(failed.Write(bytes.data(), 1000, 0, 1 << 20));
    ASSERT_TRUE(failed.Close());
    EXPECT_EQ(failed.Digest(), "");
}

TEST_F(EngineTest, ADestinationOnTheCardBeingReadIsRecognised) {
    const fs::path sys = root_ / "sys";
    const fs::path block = sys / "devices" / "block";
    fs::create_directories(block / "sdb" / "sdb1");
    std::ofstream(block / "sdb" / "sdb1" / "partition") << "1\n";
    fs::create_directories(block / "sdc");
    fs::create_directories(block / "dm-0" / "slaves");
    fs::create_directory_symlink(block / "sdb" / "sdb1", block / "dm-0" / "slaves" / "sdb1");
    fs::create_directories(block / "loop0" / "loop");
    const fs::path image = root_ / "card.img";
    std::ofstream(image) << "card";
    std::ofstream(block / "loop0" / "loop" / "backing_file") << image.string() << "\n";
    fs::create_directories(sys / "dev" / "block");
    const std::vector<std::pair<std::string, fs::path>> devices = {
        {"8:16", block / "sdb"}, {"8:17", block / "sdb" / "sdb1"}, {"8:32", block / "sdc"},
        {"254:0", block / "dm-0"}, {"7:0", block / "loop0"}};
    for (const auto& [number, dir] : devices) fs::create_directory_symlink(dir, sys / "dev" / "block" / number);

    auto device = [](dev_t number) { return engine::ReadSource{true, number, 0}; };
    const std::string s = sys.string();
    EXPECT_TRUE(engine::StoredOn(makedev(8, 17), device(makedev(8, 16)), s));  // a partition of the card
    EXPECT_TRUE(engine::StoredOn(makedev(8, 16), device(makedev(8, 17)), s));  // the card of the partition
    EXPECT_TRUE(engine::StoredOn(makedev(254, 0), device(makedev(8, 16)), s)); // mapped over it
    EXPECT_FALSE(engine::StoredOn(makedev(8, 32), device(makedev(8, 16)), s)); // another disk
    engine::ReadSource file;
    ASSERT_TRUE(engine::DescribeSource(image.string(), file));
    EXPECT_TRUE(engine::StoredOn(makedev(7, 0), file, s));                     // a loop device of the image
    ASSERT_TRUE(engine::DescribeSource((sys / "devices" / "block" / "sdb" / "sdb1" / "partition").string(), file));
    EXPECT_FALSE(engine::StoredOn(makedev(7, 0), file, s));

    // An image file beside the destination is not the destination's storage.
    EXPECT_FALSE(engine::FolderOnSource((root_ / "not yet made" / "dest").string(), image.string()));
}

TEST_F(EngineTest, ADestinationRemovedMidRunEndsTheTurboScan) {
    FatImageBuilder card(FatImageOptions::Fat16(16));
    for (int i = 0; i < 5; ++i)
        card.AddFile(card.Root(), "IMG_000" + std::to_string(i) + ".JPG", std::vector<std::uint8_t>(2000, 0x40));
    int saved = 0;
    const ScanResult result = Scan(Attach(card), 64, false, [&](engine::FATEngine& engine) {
        engine.Events.OnFoundFATFile = [&](const std::string&, const std::string&) {
            if (++saved == 2) fs::remove_all(Dest());
        };
    });
    EXPECT_TRUE(result.raised);
    EXPECT_NE(result.errorText.find("was removed or replaced during the run"), std::string::npos) << result.errorText;
    EXPECT_EQ(saved, 2);
    EXPECT_EQ(result.errors, std::vector<std::string>{}) << "no file is tried once the destination is gone";
}

} // namespace
} // namespace enginetest
