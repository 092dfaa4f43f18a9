// An exFAT card made by other tools: mkfs.exfat formats it and exfat-fuse
// writes it, near full, so that photos lie in pieces around other files;
// then some are deleted. Every live file and every deleted one whose
// clusters were not reused must come back byte-exact in its folder, and no
// file that The Sleuth Kit recovers exactly may be missing or differ.
// Writing through FUSE needs a loop device and root: without them the test
// is skipped.
#include "EngineTestSupport.h"

#include <cstdlib>
#include <unistd.h>

namespace enginetest {
namespace {

int Shell(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()); }
std::string Quote(const std::string& text) { return "'" + text + "'"; }

void WriteLocal(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class ExFatRealCardTest : public EngineTest {
protected:
    void TearDown() override {
        if (!mount_.empty()) Shell("umount " + Quote(mount_));
        if (!loop_.empty()) Shell("losetup -d " + loop_);
        EngineTest::TearDown();
    }
    std::string mount_, loop_;
};

TEST_F(ExFatRealCardTest, NearFullCardWithPiecesAndDeletedFiles) {
    if (::geteuid() != 0 || Shell("command -v mkfs.exfat && command -v mount.exfat-fuse && command -v losetup") != 0 ||
        access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "needs root, /dev/fuse, losetup, exfatprogs and exfat-fuse (scripts/setup)";
    const fs::path image = root_ / "card.img";
    ASSERT_EQ(Shell("truncate -s 24M " + Quote(image) + " && mkfs.exfat -c 4096 " + Quote(image)), 0);
    const std::string loop = [&] {
        const std::string out = (root_ / "loop").string();
        if (Shell("losetup -f --show " + Quote(image) + " > " + Quote(out)) != 0) return std::string();
        std::ifstream in(out);
        std::string device;
        std::getline(in, device);
        return device;
    }();
    if (loop.empty()) GTEST_SKIP() << "no loop device";
    loop_ = loop;
    const fs::path mnt = root_ / "mnt";
    fs::create_directories(mnt);
    if (Shell("mount.exfat-fuse " + loop + " " + Quote(mnt)) != 0) GTEST_SKIP() << "FUSE mount refused";
    mount_ = mnt.string();

    // What the card holds, by path; written from local copies.
    std::map<std::string, std::vector<std::uint8_t>> live, deleted;
    const fs::path local = root_ / "local";
    auto put = [&](const std::string& path, std::vector<std::uint8_t> bytes) {
        WriteLocal(local / path, bytes);
        fs::create_directories((mnt / path).parent_path());
        const bool written = Shell("cp " + Quote((local / path).string()) + " " + Quote((mnt / path).string())) == 0;
        if (written) live[path] = std::move(bytes);
        else Shell("rm -f " + Quote((mnt / path).string()));  // the card is full
        return written;
    };
    // Filled with 96 KiB files, every second deleted: later photos go in pieces into the gaps.
    for (int i = 0; i < 400 && put("Filler/fill" + std::to_string(i) + ".jpg", PatternBytes(96 * 1024, 1000 + i)); ++i) {}
    for (int i = 0; i < 400; i += 2) {
        live.erase("Filler/fill" + std::to_string(i) + ".jpg");
        Shell("rm -f " + Quote((mnt / ("Filler/fill" + std::to_string(i) + ".jpg")).string()));
    }
    const std::string folders[] = {"DCIM/100CANON/", "Pictures/Urlaub \xC3\xBC" "ber den Wolken/", ""};
    for (int i = 0; i < 40; ++i) {
        const std::string name = i % 3 == 1 ? "Sommerfest am See mit der ganzen Familie " + std::to_string(i) + ".jpg"
                                            : "IMG_" + std::to_string(2000 + i) + ".JPG";
        if (!put(folders[i % 3] + name, PatternBytes(150000 + 7919 * i, 77 + i))) break;
    }
    // The last photos and a whole folder deleted; nothing written after.
    std::vector<std::string> gone;
    for (const auto& [path, bytes] : live)
        if (path.rfind("Pictures/", 0) == 0 || (path.rfind("DCIM/", 0) == 0 && gone.size() % 2 == 0)) gone.push_back(path);
    ASSERT_EQ(Shell("rm -rf " + Quote((mnt / "Pictures").string())), 0);
    for (const std::string& path : gone) {
        if (path.rfind("DCIM/", 0) != 0) continue;
        ASSERT_EQ(Shell("rm -f " + Quote((mnt / path).string())), 0);
    }
    for (const std::string& path : gone) {
        deleted[path] = live[path];
        live.erase(path);
    }
    ASSERT_EQ(Shell("umount " + Quote(mount_)), 0);
    mount_.clear();
    Shell("losetup -d " + loop_);
    loop_.clear();
    ASSERT_GE(deleted.size(), 5u);

    engine::UseFileTypeTableForTests({{"JPG", true}});
    auto sparse = std::make_shared<testcommon::SparseImage>(fs::file_size(image));
    const auto bytes = ReadAll(image);
    sparse->Write(0, bytes.data(), bytes.size());
    const ScanResult scan = Scan(Attach(std::make_shared<testcommon::SparseVolume>(sparse, 512)), 64, true);
    ASSERT_FALSE(scan.raised) << scan.errorText;
    // Only the deleted fillers that photos were written over may be said to
    // be incomplete.
    for (const std::string& error : scan.errors) EXPECT_EQ(error.rfind("Incomplete: fill", 0), 0u) << error;
    for (const auto* expected : {&live, &deleted})
        for (const auto& [path, content] : *expected) {
            ASSERT_TRUE(scan.files.count(path)) << path;
            EXPECT_TRUE(scan.files.at(path) == content) << path;
        }

    // The Sleuth Kit, all files live and deleted: none it gets right may we miss.
    if (Shell("command -v tsk_recover") != 0) return;
    const fs::path tsk = root_ / "tsk";
    ASSERT_EQ(Shell("tsk_recover -e " + Quote(image) + " " + Quote(tsk)), 0);
    int tskExact = 0;
    for (const auto& entry : fs::recursive_directory_iterator(tsk)) {
        if (!entry.is_regular_file()) continue;
        const std::string path = fs::relative(entry.path(), tsk).string();
        const auto* truth = live.count(path) ? &live.at(path) : deleted.count(path) ? &deleted.at(path) : nullptr;
        if (!truth || ReadAll(entry.path()) != *truth) continue;
        ++tskExact;
        EXPECT_TRUE(scan.files.count(path) && scan.files.at(path) == *truth) << "The Sleuth Kit has " << path;
    }
    EXPECT_GT(tskExact, 0);
}

} // namespace
} // namespace enginetest
