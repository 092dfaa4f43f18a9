// A card formatted by mistake, as a user brings it: folders with long and
// short names, a deleted photo and files in the root, written by mtools (or
// exfat-fuse) onto a card made by mkfs.fat (or mkfs.exfat), then formatted
// again. tranquo-cli's deep scan must give every photo back byte for byte,
// with its name in its folder and its date.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "JpegMaker.h"
#include "support/ProgramFolder.h"
#include "tests/common/ShellTools.h"
#include "tests/common/FatImageBuilder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
using testcommon::Quote;
using testcommon::ReadAll;
using testcommon::Shell;

struct CardFile {
    std::string path;  // on the card
    Bytes bytes;
    std::string when;  // its modification time, for touch -d
    std::time_t seconds = 0;
};

class NamesAfterFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tranquo-names-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "local");
        const char* paths[] = {"DCIM/100CANON/IMG_0001.JPG", "DCIM/100CANON/IMG_0002.JPG",
                               "Camera Roll/Holiday at the beach.jpg", "Camera Roll/Family/Grandma at ninety.jpg",
                               "ROOTPIC.JPG"};
        std::uint32_t seed = 40;
        for (const char* path : paths) {
            CardFile file{path, wizardtest::MakeJpeg(200 + 40 * int(seed % 5), 150, seed), {}, 0};
            file.when = "2021-05-0" + std::to_string(seed % 9 + 1) + " 10:20:" + std::to_string(10 + 2 * (seed % 20));  // FAT keeps even seconds
            const fs::path local = dir_ / "local" / std::to_string(seed++);
            std::ofstream(local, std::ios::binary)
                .write(reinterpret_cast<const char*>(file.bytes.data()), std::streamsize(file.bytes.size()));
            Shell("touch -d '" + file.when + "' " + Quote(local));
            struct stat info {};
            ::stat(local.c_str(), &info);
            file.seconds = info.st_mtime;
            files_.push_back(file);
        }
    }
    void TearDown() override {
        if (!mount_.empty()) Shell("umount " + Quote(mount_));
        if (!loop_.empty()) Shell("losetup -d " + loop_);
        fs::remove_all(dir_);
    }
    fs::path Local(std::size_t i) const { return dir_ / "local" / std::to_string(40 + i); }

    // mkfs.fat's card with the files; the second photo deleted.
    fs::path FatCard(const std::string& format, int kib = 65536) {
        const fs::path image = dir_ / "fat.img";
        fs::remove(image);
        EXPECT_EQ(Shell("mkfs.fat -C " + format + " " + Quote(image) + " " + std::to_string(kib)), 0);
        const std::string i = " -i " + Quote(image) + " ";
        EXPECT_EQ(Shell("mmd" + i + "::DCIM ::DCIM/100CANON '::Camera Roll' '::Camera Roll/Family'"), 0);
        for (std::size_t k = 0; k < files_.size(); ++k)
            EXPECT_EQ(Shell("mcopy -m" + i + Quote(Local(k)) + " '::" + files_[k].path + "'"), 0);
        EXPECT_EQ(Shell("mdel" + i + "::DCIM/100CANON/IMG_0002.JPG"), 0);
        return image;
    }

    fs::path DeepScan(const fs::path& image, const std::string& name, const std::string& options = "") {
        const fs::path dest = dir_ / name;
        const std::string command = "TRANQUO_REGISTRY=" + Quote(dir_ / "registry") + " '" + support::ProgramFolder() +
                                    "/tranquo-cli' --attach " + Quote(image) + " -q recover --deep-only " + options +
                                    " --dest " + Quote(dest);
        EXPECT_EQ(Shell(command), 0) << command;
        return dest / "My Recovered Mobile Device" / "Deep Scan";
    }

    // Every file whose folders lie on the card: byte-exact with its name, its
    // folders (a top-level folder whose entry the format wiped is named after
    // its cluster) and its date. Files of the root keep their bytes.
    void ExpectNamed(const fs::path& deep) {
        std::map<std::string, fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(deep))
            if (entry.is_regular_file()) found[fs::relative(entry.path(), deep).string()] = entry.path();
        for (const CardFile& file : files_) {
            const std::size_t slash = file.path.find('/');
            const fs::path* match = nullptr;
            for (const auto& [relative, path] : found) {
                if (slash == std::string::npos) {
                    if (ReadAll(path) == file.bytes) match = &path;
                    continue;
                }
                const std::size_t at = relative.find('/');
                const std::string top = relative.substr(0, at);
                if (at != std::string::npos && relative.substr(at) == file.path.substr(slash) &&
                    (top == file.path.substr(0, slash) || top.rfind("Folder ", 0) == 0))
                    match = &path;
            }
            ASSERT_NE(match, nullptr) << file.path;
            EXPECT_EQ(ReadAll(*match), file.bytes) << file.path;
            if (slash != std::string::npos) {
                struct stat info {};
                ::stat(match->c_str(), &info);
                EXPECT_EQ(info.st_mtime, file.seconds) << file.path;
            }
        }
        // The report gives the path on the card and says where the name came from.
        const Bytes report = ReadAll(deep.parent_path() / "report.xml");
        const std::string xml(report.begin(), report.end());
        EXPECT_NE(xml.find("/Family/Grandma at ninety.jpg</filename>"), std::string::npos) << xml;
        std::size_t named = 0;
        for (std::size_t at = 0; (at = xml.find("name_from=\"found folder\"", at)) != std::string::npos; ++at) ++named;
        EXPECT_GE(named, files_.size() - 1) << xml;
        EXPECT_EQ(Shell("xmllint --noout --schema " + Quote(fs::path(TRANQUO_TEST_DATA_DIR) / "dfxml" / "dfxml.xsd") +
                        " " + Quote(deep.parent_path() / "report.xml")),
                  0);
    }

    fs::path dir_;
    std::vector<CardFile> files_;
    std::string mount_, loop_;
};

TEST_F(NamesAfterFormatTest, AfterAQuickFormatAndAReformatInAnotherLayoutThePhotosComeBackWithTheirNames) {
    if (Shell("command -v mkfs.fat && command -v mcopy") != 0) GTEST_SKIP() << "mkfs.fat or mtools missing";
    // The same layout again; then FAT32 of 512-byte clusters as FAT16 of 4 KiB.
    int run = 0;
    for (const std::string& again : {std::string("-F 32 -s 1"), std::string("-F 16 -s 8")}) {
        SCOPED_TRACE(again);
        const fs::path image = FatCard("-F 32 -s 1");
        ASSERT_EQ(Shell("mkfs.fat " + again + " " + Quote(image)), 0);
        ExpectNamed(DeepScan(image, "dest" + std::to_string(++run)));
    }
    // Formatted exFAT, as a camera does: the FAT folders are still found
    // (on a card large enough that the files lie past the new cluster heap's start).
    if (Shell("command -v mkfs.exfat") != 0) return;
    const fs::path image = FatCard("-F 32 -s 1", 262144);
    ASSERT_EQ(Shell("mkfs.exfat " + Quote(image)), 0);
    ExpectNamed(DeepScan(image, "exfat"));
}

TEST_F(NamesAfterFormatTest, AnExFatCardFormattedAgainGivesItsNamesBack) {
    if (::geteuid() != 0 || Shell("command -v mkfs.exfat && command -v mount.exfat-fuse && command -v losetup") != 0 ||
        ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "needs root, /dev/fuse, losetup, exfatprogs and exfat-fuse (scripts/setup)";
    const fs::path image = dir_ / "exfat.img", mnt = dir_ / "mnt", out = dir_ / "loop";
    ASSERT_EQ(Shell("truncate -s 24M " + Quote(image) + " && mkfs.exfat -c 4096 " + Quote(image)), 0);
    ASSERT_EQ(Shell("losetup -f --show " + Quote(image) + " > " + Quote(out)), 0);
    std::ifstream(out) >> loop_;
    fs::create_directories(mnt);
    if (Shell("mount.exfat-fuse " + loop_ + " " + Quote(mnt)) != 0) GTEST_SKIP() << "FUSE mount refused";
    mount_ = mnt.string();
    for (std::size_t k = 0; k < files_.size(); ++k) {
        fs::create_directories((mnt / files_[k].path).parent_path());
        ASSERT_EQ(Shell("cp -p " + Quote(Local(k)) + " " + Quote(mnt / files_[k].path)), 0);
    }
    ASSERT_EQ(Shell("rm " + Quote(mnt / files_[1].path)), 0);
    ASSERT_EQ(Shell("umount " + Quote(mnt)), 0);
    mount_.clear();
    Shell("losetup -d " + loop_);
    loop_.clear();
    ASSERT_EQ(Shell("mkfs.exfat -c 4096 " + Quote(image)), 0);
    ExpectNamed(DeepScan(image, "dest"));
    // Reads that end inside clusters: each folder's cluster is put together.
    ExpectNamed(DeepScan(image, "odd", "--sectors-at-once 3"));
}

// A film deleted, and a photo written over clusters in the middle of it: the
// film's structure holds the photo's start, and the photo's own structure is
// damaged, so the pass carves no file there; the photo's entry has it copied
// for its size.
TEST_F(NamesAfterFormatTest, APhotoWhoseStartAnOlderFilmHoldsIsCopiedFromItsEntry) {
    if (Shell("command -v ffmpeg") != 0) GTEST_SKIP() << "ffmpeg missing";
    const fs::path film = dir_ / "film.mp4";
    ASSERT_EQ(Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration=4:size=320x240:rate=25 "
                    "-c:v mpeg4 -q:v 2 " + Quote(film)),
              0);
    testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(32));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const Bytes filmBytes = ReadAll(film);
    const auto old = card.AddFile(dcim, "MVI_0001.MP4", filmBytes);
    card.Delete(old, true);
    testcommon::FileOptions inside;
    const std::size_t clusters = (files_[0].bytes.size() + card.BytesPerCluster() - 1) / card.BytesPerCluster();
    ASSERT_GT(old.clusters.size(), clusters + 20);
    inside.clusters.assign(old.clusters.begin() + 10, old.clusters.begin() + 10 + std::ptrdiff_t(clusters));
    Bytes damaged = files_[0].bytes;
    ASSERT_GT(damaged.size(), 40u);
    damaged[4] = 0x00, damaged[5] = 0x21; // the first segment's length points into the next one
    card.AddFile(dcim, "IMG_0005.JPG", damaged, inside);
    const fs::path image = dir_ / "reused.img";
    card.WriteFile(image.string());
    const fs::path deep = DeepScan(image, "dest");
    fs::path photo;
    for (const auto& entry : fs::recursive_directory_iterator(deep))
        if (entry.path().filename() == "IMG_0005.JPG") photo = entry.path();
    ASSERT_FALSE(photo.empty());
    EXPECT_EQ(ReadAll(photo), damaged);
    const Bytes report = ReadAll(deep.parent_path() / "report.xml");
    EXPECT_NE(std::string(report.begin(), report.end()).find("end=\"entry size\""), std::string::npos);
}

// Names that try to leave the Deep Scan folder: a folder named ".." and a
// file whose long name holds "/" and "..". Nothing is written outside it.
TEST_F(NamesAfterFormatTest, HostileNamesStayInsideTheDeepScanFolder) {
    testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(32));
    testcommon::FileOptions dotdot;
    dotdot.shortName = "DOTDOT     ";
    const auto outer = card.AddFolder(card.Root(), "Outer");
    const auto parent = card.AddFolder(outer, "..", dotdot);
    testcommon::FileOptions evil;
    evil.shortName = "EVIL    JPG";
    card.AddFile(parent, "../../../escaped.jpg", files_[0].bytes, evil);
    const fs::path image = dir_ / "hostile.img";
    card.WriteFile(image.string());
    const fs::path deep = DeepScan(image, "dest");
    std::vector<fs::path> written;
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / "dest"))
        if (entry.is_regular_file() && entry.path().filename() != "report.xml") written.push_back(entry.path());
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(ReadAll(written[0]), files_[0].bytes);
    const fs::path relative = fs::relative(written[0], deep);
    for (const auto& part : relative) EXPECT_TRUE(part != ".." && part != ".") << relative;
    EXPECT_EQ(std::distance(relative.begin(), relative.end()), 3) << relative;  // Folder <n>/__/<name>
    EXPECT_EQ(relative.parent_path().filename(), "__") << relative;
    EXPECT_FALSE(fs::exists(dir_ / "escaped.jpg"));
}

} // namespace
