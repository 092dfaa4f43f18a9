// The folders of a formatted card, found by feeding its sectors to the
// finder as the deep scan reads them: cards built byte for byte, cards made
// by mkfs.fat and mtools and formatted again, photos whose bytes look like a
// folder's, and hostile cards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

#include "engine/BootSector.h"
#include "tests/common/FatImageBuilder.h"
#include "tests/wizard/JpegMaker.h"
#include "wizard/DirectorySector.h"
#include "wizard/FolderFinder.h"

namespace {

namespace fs = std::filesystem;
using testcommon::FatImageBuilder;
using testcommon::FatImageOptions;
using testcommon::FileOptions;
using testcommon::PatternBytes;
using wizard::ClusterLayout;
using wizard::FolderFinder;
using wizard::FolderFinderSetup;
using wizard::FolderTree;

// Paths of the files found, with their first clusters.
std::map<std::string, std::int64_t> PathsOf(const FolderTree& tree) {
    std::map<std::string, std::int64_t> paths;
    for (const auto& f : tree.Files()) paths[f.path] = f.firstCluster;
    return paths;
}

FolderTree FindFolders(const std::vector<std::uint8_t>& image, std::optional<ClusterLayout> boot = std::nullopt,
                       std::vector<std::string> fileNames = {}) {
    FolderFinderSetup setup;
    setup.driveSectors = static_cast<std::int64_t>(image.size() / 512);
    setup.bootLayout = boot;
    setup.standardFileNames = std::move(fileNames);
    FolderFinder finder(setup);
    // In blocks, as the deep scan reads.
    constexpr std::size_t Block = 64 * 512;
    for (std::size_t at = 0; at < image.size(); at += Block)
        finder.FeedBlock(static_cast<std::int64_t>(at / 512),
                         std::span<const std::uint8_t>(image).subspan(at, std::min(Block, image.size() - at)));
    return finder.Finish();
}

// A quick format: an empty FAT and root folder, the data area left alone.
void QuickFormat(FatImageBuilder& card) {
    card.WipeFat(false);
    auto image = card.Image();
    if (card.Kind() == testcommon::FatKind::Fat32)
        image->Fill(card.ClusterOffset(2), 0, card.BytesPerCluster());
    else
        image->Fill(std::uint64_t(card.RootDirSector()) * card.BytesPerSector(), 0,
                    std::uint64_t(card.FirstDataSector() - card.RootDirSector()) * card.BytesPerSector());
}

// A FAT32 card with 512-byte clusters as a phone leaves it, quick-formatted:
// the root folder is gone, so its folders are named after their clusters.
struct PhoneCard {
    FatImageBuilder card{[] {
        auto o = FatImageOptions::Fat32(64);
        o.sectorsPerCluster = 1;
        return o;
    }()};
    std::map<std::string, testcommon::EntryRef> files;
    std::string dcimPath, cameraPath;

    PhoneCard() {
        auto dcim = card.AddFolder(card.Root(), "DCIM");
        auto canon = card.AddFolder(dcim, "100CANON");
        auto camera = card.AddFolder(card.Root(), "Camera roll");
        dcimPath = "Folder " + std::to_string(card.FolderEntry(dcim).clusters.front()) + "/100CANON/";
        cameraPath = "Folder " + std::to_string(card.FolderEntry(camera).clusters.front()) + "/";
        files[dcimPath + "IMG_0001.JPG"] = card.AddFile(canon, "IMG_0001.JPG", PatternBytes(3000, 1));
        files[dcimPath + "Holiday at the sea.jpg"] =
            card.AddFile(canon, "Holiday at the sea.jpg", PatternBytes(5000, 2));
        const auto gone = card.AddFile(canon, "DSC00001.JPG", PatternBytes(700, 3));
        card.Delete(gone, true);
        files[dcimPath + "DSC00001.JPG"] = gone;
        const auto goneLong = card.AddFile(canon, "Birthday cake.jpg", PatternBytes(900, 4));
        card.Delete(goneLong, true);
        files[dcimPath + "Birthday cake.jpg"] = goneLong;
        // Enough files for the folder's first cluster (16 entries) to fill
        // after another folder took the next cluster: it goes on elsewhere.
        for (int i = 0; i < 20; ++i) {
            const std::string name = "Camera photo " + std::to_string(i) + ".jpg";
            files[cameraPath + name] = card.AddFile(camera, name, PatternBytes(600, 10 + i));
        }
        QuickFormat(card);
    }
};

TEST(FolderFinderTest, QuickFormattedCardGivesBackNamesFoldersAndClusters) {
    PhoneCard phone;
    const ClusterLayout boot{1, phone.card.FirstDataSector(), false};
    const FolderTree tree = FindFolders(phone.card.Bytes(), boot, {"DSC?????.JPG"});
    ASSERT_TRUE(tree.Layout());
    EXPECT_TRUE(tree.Layout()->fromBootSector);
    const auto paths = PathsOf(tree);
    for (const auto& [path, entry] : phone.files) {
        ASSERT_TRUE(paths.count(path)) << path;
        EXPECT_EQ(paths.at(path), entry.clusters.front()) << path;
    }
    EXPECT_EQ(paths.size(), phone.files.size());

    const auto& photo = phone.files.at(phone.dcimPath + "Holiday at the sea.jpg");
    const auto* found = tree.FileStartingAt(std::int64_t(phone.card.ClusterOffset(photo.clusters.front())), "jpg");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->size, 5000u);
    EXPECT_FALSE(found->deleted);
    EXPECT_EQ(found->writeDate, 0x5A21);
    EXPECT_TRUE(tree.FileStartingAt(std::int64_t(phone.card.ClusterOffset(photo.clusters.front())) + 512) == nullptr);
    const auto* deleted = tree.FileStartingAt(
        std::int64_t(phone.card.ClusterOffset(phone.files.at(phone.dcimPath + "DSC00001.JPG").clusters.front())));
    ASSERT_NE(deleted, nullptr);
    EXPECT_TRUE(deleted->deleted);
}

TEST(FolderFinderTest, ClaimedFilesLeaveTheOthersToCopy) {
    PhoneCard phone;
    FolderTree tree = FindFolders(phone.card.Bytes(), ClusterLayout{1, phone.card.FirstDataSector(), false});
    for (const auto& [path, entry] : phone.files)
        if (path.rfind(phone.cameraPath, 0) == 0) {
            ASSERT_NE(tree.Claim(std::int64_t(phone.card.ClusterOffset(entry.clusters.front()))), nullptr);
        }
    const auto left = tree.FilesNotClaimed();
    ASSERT_EQ(left.size(), 4u);
    for (const auto* e : left) EXPECT_EQ(e->path.rfind(phone.dcimPath, 0), 0u) << e->path;
}

TEST(FolderFinderTest, ReformatWithAnotherLayoutIsOutvotedByTheFolders) {
    PhoneCard phone;
    const auto before = FindFolders(phone.card.Bytes(), ClusterLayout{1, phone.card.FirstDataSector(), false});
    // FAT16 with 4 KiB clusters written over the front of the card.
    auto o = FatImageOptions::Fat16(64);
    o.sectorsPerCluster = 8;
    FatImageBuilder fresh(o);
    auto image = phone.card.Bytes();
    const auto front = fresh.Bytes();
    const std::size_t written = std::size_t(fresh.FirstDataSector() + 8) * 512;
    std::copy_n(front.begin(), written, image.begin());

    const FolderTree tree = FindFolders(image, ClusterLayout{8, fresh.FirstDataSector(), false});
    ASSERT_TRUE(tree.Layout());
    EXPECT_FALSE(tree.Layout()->fromBootSector);
    EXPECT_EQ(tree.Layout()->sectorsPerCluster, 1);
    EXPECT_EQ(tree.Layout()->firstDataSector, phone.card.FirstDataSector());
    EXPECT_EQ(PathsOf(tree), PathsOf(before));
    // Without any boot sector the vote alone finds it too.
    EXPECT_EQ(FindFolders(image).Layout()->firstDataSector, phone.card.FirstDataSector());
}

// One wrong entry makes the whole sector not a folder's.
TEST(FolderFinderTest, ASectorIsAFoldersOnlyWhenEveryEntryIs) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    auto folder = card.AddFolder(card.Root(), "Holiday");
    const auto file = card.AddFile(folder, "Sunset at the beach.jpg", PatternBytes(3000, 1));
    const auto image = card.Bytes();
    const std::size_t at = card.ClusterOffset(card.FolderEntry(folder).clusters.front());
    const std::vector<std::uint8_t> sector(image.begin() + std::ptrdiff_t(at), image.begin() + std::ptrdiff_t(at + 512));
    const wizard::DirectorySectorBounds bounds{1000, 1u << 30};
    const auto test = wizard::TestDirectorySector(sector, bounds);
    EXPECT_EQ(test.kind, wizard::DirectorySectorKind::FolderStart);
    EXPECT_EQ(test.ownCluster, card.FolderEntry(folder).clusters.front());
    EXPECT_EQ(test.parentCluster, 0);
    EXPECT_TRUE(test.endsFolder);

    const std::size_t shortEntry = file.shortEntryOffset - at;
    const std::size_t lastLongPart = file.longEntryOffsets.back() - at;
    const std::vector<std::pair<std::size_t, std::uint8_t>> faults = {
        {lastLongPart + 13, 0x00},  // a long name's checksum that is not its short name's
        {shortEntry + 24, 0x00},    // day 0 of month 0
        {shortEntry + 11, 0x60},    // attribute bits no entry has
        {shortEntry + 3, '*'},      // a character no short name has
        {shortEntry + 27, 0xFF},    // a first cluster beyond the volume
        {500, 0x01},                // a byte after the end of the folder
        {32, 'X'},                  // "." without ".."
    };
    for (const auto& [offset, value] : faults) {
        auto broken = sector;
        broken[offset] = value;
        EXPECT_EQ(wizard::TestDirectorySector(broken, bounds).kind, wizard::DirectorySectorKind::NotDirectory)
            << "byte " << offset;
    }
}

TEST(FolderFinderTest, PhotosWhoseBytesBeginLikeAFolderAreNotOne) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    auto dcim = card.AddFolder(card.Root(), "DCIM");
    std::vector<testcommon::EntryRef> photos;
    for (std::uint32_t i = 0; i < 12; ++i) {
        auto jpeg = wizardtest::MakeJpeg(320 + 16 * i, 240, i);
        // A "." and ".." pair at a sector start inside the photo's data.
        const std::size_t at = 2048;
        for (std::size_t k = 0; k < 64; ++k) jpeg[at + k] = k % 32 < 11 ? ' ' : 0;
        jpeg[at] = jpeg[at + 32] = jpeg[at + 33] = '.';
        jpeg[at + 11] = jpeg[at + 43] = 0x10;
        jpeg[at + 26] = 9;
        photos.push_back(card.AddFile(dcim, "P" + std::to_string(i) + ".JPG", jpeg));
    }
    QuickFormat(card);
    const FolderTree tree = FindFolders(card.Bytes(), ClusterLayout{card.SectorsPerCluster(), card.FirstDataSector(), false});
    ASSERT_EQ(tree.Folders().size(), 1u);
    EXPECT_EQ(tree.Folders().front().path, "Folder " + std::to_string(card.FolderEntry(dcim).clusters.front()));
    EXPECT_EQ(tree.Files().size(), photos.size());
}

TEST(FolderFinderTest, HostileFoldersStayBoundedAndSafe) {
    FatImageBuilder card(FatImageOptions::Fat16(64));
    auto a = card.AddFolder(card.Root(), "A");
    auto b = card.AddFolder(a, "B");
    // A names B as its parent, and B names A: a loop.
    auto image = card.Image();
    const std::uint32_t clusterB = card.FolderEntry(b).clusters.front();
    image->SetByte(card.EntryOffset(a, 1) + 26, static_cast<std::uint8_t>(clusterB));
    image->SetByte(card.EntryOffset(a, 1) + 27, static_cast<std::uint8_t>(clusterB >> 8));
    FileOptions evil;
    evil.shortName = "EVIL    JPG";
    evil.forceLongName = true;
    card.AddFile(b, "../../etc/passwd", PatternBytes(100, 1), evil);
    // 10,000 entries that all claim one cluster.
    const auto target = card.AddFile(b, "REAL.JPG", PatternBytes(4000, 2));
    std::vector<std::uint8_t> entry(32, 0);
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "C" + std::to_string(1000000 + i) + "JPG";
        std::copy(name.begin(), name.end(), entry.begin());
        entry[11] = 0x20;
        entry[24] = 0x21;
        entry[25] = static_cast<std::uint8_t>(0x5A + i % 10);  // the later ones newer
        entry[26] = static_cast<std::uint8_t>(target.clusters.front());
        entry[27] = static_cast<std::uint8_t>(target.clusters.front() >> 8);
        entry[28] = static_cast<std::uint8_t>(i + 1);
        entry[29] = 0x10;
        card.AddRawEntry(a, entry);
    }
    QuickFormat(card);
    const FolderTree tree = FindFolders(card.Bytes(), ClusterLayout{card.SectorsPerCluster(), card.FirstDataSector(), false});
    ASSERT_EQ(tree.Folders().size(), 2u);
    for (const auto& f : tree.Folders()) EXPECT_LE(f.path.size(), 20u) << f.path;
    EXPECT_EQ(tree.Files().size(), 10002u);
    for (const auto& f : tree.Files()) {
        std::stringstream parts(f.path);
        for (std::string part; std::getline(parts, part, '/');) EXPECT_TRUE(part != ".." && !part.empty()) << f.path;
    }
    const auto offset = std::int64_t(card.ClusterOffset(target.clusters.front()));
    EXPECT_EQ(tree.FileStartingAt(offset, "JPG", 4000)->name, "REAL.JPG");
    // Without a size: the newest.
    EXPECT_EQ(tree.FileStartingAt(offset)->writeDate >> 8, 0x5A + 9);
}

// A chain of folders deeper than any camera makes: each folder's path comes
// from its parent's (one step a folder), and below 128 levels the files
// join the folder at the 128th.
TEST(FolderFinderTest, FoldersNestedDeeperThanTheLimitJoinTheDeepestFolderKept) {
    FatImageBuilder card(FatImageOptions::Fat16(64));
    auto folder = card.Root();
    std::string expected;
    for (int level = 1; level <= 300; ++level) {
        const std::string name = "L" + std::to_string(level);
        folder = card.AddFolder(folder, name);
        if (level <= 128) expected += name + "/";
    }
    card.AddFile(folder, "DEEP.JPG", PatternBytes(700, 5));
    QuickFormat(card);
    const FolderTree tree = FindFolders(card.Bytes(), ClusterLayout{card.SectorsPerCluster(), card.FirstDataSector(), false});
    ASSERT_EQ(tree.Folders().size(), 300u);
    ASSERT_EQ(tree.Files().size(), 1u);
    // The top folder's entry went with the root: its name is its cluster.
    const std::string path = tree.Files().front().path;
    const std::string below = expected.substr(expected.find('/') + 1) + "DEEP.JPG";
    EXPECT_EQ(path.substr(path.find('/') + 1), below);
    EXPECT_EQ(path.rfind("Folder ", 0), 0u) << path;
    EXPECT_TRUE(tree.Files().front().folderNameLost);
}

bool HaveTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}
int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A card made by mkfs.fat and mtools, quick-formatted by mkfs.fat with the
// same layout and then reformatted as FAT16 with 4 KiB clusters.
TEST(FolderFinderTest, MtoolsCardAfterQuickFormatAndReformat) {
    if (!HaveTool("mkfs.fat") || !HaveTool("mcopy")) GTEST_SKIP() << "dosfstools or mtools missing (scripts/setup)";
    const fs::path dir = fs::temp_directory_path() / ("folder-finder-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string image = (dir / "card.img").string();
    ASSERT_EQ(Shell("truncate -s 64M '" + image + "' && mkfs.fat -F 32 -s 1 -n CARD '" + image + "'"), 0);
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    const std::string m = " -i '" + image + "' ";
    ASSERT_EQ(Shell("mmd" + m + "::/DCIM && mmd" + m + "::/DCIM/100CANON && mmd" + m + "::/WhatsApp"), 0);
    std::map<std::string, std::size_t> expected;
    for (int i = 0; i < 24; ++i) {
        const std::string name = i % 2 ? "IMG_" + std::to_string(1000 + i) + ".JPG" : "Photo from the beach " + std::to_string(i) + ".jpg";
        const std::string folder = i % 3 == 0 ? "WhatsApp/" : "DCIM/100CANON/";
        const auto bytes = PatternBytes(2000 + 300 * std::size_t(i), std::uint32_t(i));
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        ASSERT_EQ(Shell("mcopy" + m + "'" + (dir / name).string() + "' '::/" + folder + name + "'"), 0);
        expected[folder + name] = bytes.size();
    }
    ASSERT_EQ(Shell("mdel" + m + "'::/WhatsApp/Photo from the beach 0.jpg'"), 0);
    const auto original = FindFolders(ReadAll(image));

    ASSERT_EQ(Shell("mkfs.fat -F 32 -s 1 -n CARD '" + image + "'"), 0);
    const FolderTree quick = FindFolders(ReadAll(image));
    ASSERT_EQ(Shell("mkfs.fat -F 16 -s 8 -n CARD '" + image + "'"), 0);
    const auto reformatted = ReadAll(image);
    fs::remove_all(dir);
    engine::VolumeLayout layout;
    engine::ParseBootSector(reformatted.data(), reformatted.size(), layout.Boot);
    layout.Usable = true;
    layout.Source = engine::LayoutSource::BootSector;
    layout.FirstDataSector = layout.Boot.ReservedSectors + layout.Boot.NumberFATs * layout.Boot.SectorsPerFAT16 +
                             layout.Boot.RootEntries * 32 / 512;
    const auto boot = wizard::BootSectorClusterLayout(layout, 512);
    ASSERT_TRUE(boot && boot->sectorsPerCluster == 8);
    const FolderTree reformat = FindFolders(reformatted, boot);

    // The root folder is gone: its folders are named after their clusters.
    std::map<std::string, std::string> lostNames;
    for (const auto& f : original.Folders())
        if (f.parentCluster == 0) lostNames[f.name] = "Folder " + std::to_string(f.cluster);
    std::map<std::string, std::size_t> expectedAfterFormat;
    for (const auto& [path, size] : expected) {
        const auto slash = path.find('/');
        expectedAfterFormat[lostNames.at(path.substr(0, slash)) + path.substr(slash)] = size;
    }
    std::map<std::string, std::size_t> before;
    for (const auto& f : original.Files()) before[f.path] = f.size;
    EXPECT_EQ(before, expected);
    for (const FolderTree* tree : {&quick, &reformat}) {
        ASSERT_TRUE(tree->Layout());
        EXPECT_EQ(tree->Layout()->sectorsPerCluster, 1);
        std::map<std::string, std::size_t> found;
        for (const auto& f : tree->Files()) found[f.path] = f.size;
        EXPECT_EQ(found, expectedAfterFormat);
    }
}

} // namespace
