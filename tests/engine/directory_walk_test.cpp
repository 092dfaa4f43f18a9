// The directory walk: deleted entries and their names, long names, invalid
// entries, duplicates, loops and the counts of very full cards.
#include "EngineTestSupport.h"

#include <cstring>

#include "engine/NamePattern.h"
#include "engine/SafeName.h"
#include "engine/TextEncoding.h"

namespace enginetest {
namespace {

class DirectoryWalkTest : public EngineTest {
protected:
    // The walk alone: boot sector, FAT, directories (nothing is saved).
    engine::FATEngine& Walk(FatImageBuilder& card) {
        const char letter = Attach(card);
        walked = std::make_unique<engine::FATEngine>();
        EXPECT_TRUE(walked->ReadDeviceBootSector(engine::DriveNumberFromLetter(letter)));
        walked->ReadClusterChains();
        EXPECT_TRUE(walked->WalkDirectories());
        return *walked;
    }
    static std::vector<std::string> FileNames(const engine::FATEngine& e) {
        std::vector<std::string> names;
        for (const auto& f : e.Files()) names.push_back(f.Name);
        return names;
    }
    static std::vector<std::uint8_t> Entry(const std::string& name11, std::uint8_t attributes, std::uint32_t cluster,
                                           std::uint32_t size) {
        std::vector<std::uint8_t> e(32, 0);
        for (std::size_t i = 0; i < 11; ++i) e[i] = static_cast<std::uint8_t>(name11[i]);
        e[11] = attributes;
        e[26] = static_cast<std::uint8_t>(cluster);
        e[27] = static_cast<std::uint8_t>(cluster >> 8);
        for (int k = 0; k < 4; ++k) e[28 + k] = static_cast<std::uint8_t>(size >> (8 * k));
        return e;
    }
    std::unique_ptr<engine::FATEngine> walked;
};

TEST_F(DirectoryWalkTest, DeletedShortNamesGetTheirFirstLetterFromTheStandardList) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.Delete(card.AddFile(card.Root(), "DSC00001.JPG", PatternBytes(100, 1)), true);
    card.Delete(card.AddFile(card.Root(), "XQ1.JPG", PatternBytes(100, 2)), true);
    const auto& e = Walk(card);
    EXPECT_EQ(FileNames(e), (std::vector<std::string>{"DSC00001.JPG", "_Q1.JPG"}));
    EXPECT_EQ(e.Files()[0].Status, 1);
    EXPECT_EQ(e.Files()[0].Flags, 1);
}

TEST_F(DirectoryWalkTest, DeletedFilesWhoseFirstClusterIsInUseAreDroppedButEmptyOnesKept) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.Delete(card.AddFile(card.Root(), "IMG_0001.JPG", PatternBytes(3000, 1)), /*clearChain=*/false);
    card.Delete(card.AddFile(card.Root(), "IMG_0002.JPG", {}), false);
    const auto& e = Walk(card);
    EXPECT_EQ(FileNames(e), std::vector<std::string>{"IMG_0002.JPG"});
}

TEST_F(DirectoryWalkTest, DeletedFoldersAreWalkedOnlyWhileTheyStillStartWithDotEntries) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const auto alive = card.AddFolder(card.Root(), "100CANON");
    card.AddFile(alive, "IMG_0001.JPG", PatternBytes(100, 1));
    const auto gone = card.AddFolder(card.Root(), "101CANON");
    card.AddFile(gone, "IMG_0002.JPG", PatternBytes(100, 2));
    const auto overwritten = card.AddFolder(card.Root(), "102CANON");
    card.Delete(alive, true);
    card.Delete(gone, true);
    card.Delete(overwritten, true);
    card.Image()->Fill(card.ClusterOffset(card.FolderEntry(overwritten).clusters[0]), 0x41, 64);
    const auto& e = Walk(card);
    ASSERT_EQ(e.Directories().size(), 2u);
    EXPECT_EQ(e.Directories()[0].Name, "100CANON");  // repaired from 1##CANON
    EXPECT_EQ(e.Directories()[0].Status, 1);
    EXPECT_EQ(FileNames(e), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG"}));
}

TEST_F(DirectoryWalkTest, InvalidEntriesAreNotFiles) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    card.AddRawEntry(card.Root(), Entry("BAD+NAMEJPG", 0x20, 5, 10));
    card.AddRawEntry(card.Root(), Entry("BAD\x01NAMEJPG", 0x20, 5, 10));
    card.AddRawEntry(card.Root(), Entry("ONECLUSTJPG", 0x20, 1, 12));
    card.AddRawEntry(card.Root(), Entry("EMPTY   JPG", 0x20, 0, 0));
    card.AddRawEntry(card.Root(), Entry(" SPACE  JPG", 0x20, 5, 10));
    card.AddRawEntry(card.Root(), Entry("HUGE    JPG", 0x20, 5, 0xFFFFFFFF));
    card.AddRawEntry(card.Root(), Entry("LABEL      ", 0x08, 0, 0));
    const auto& e = Walk(card);
    EXPECT_EQ(FileNames(e), std::vector<std::string>{"EMPTY.JPG"});
}

TEST_F(DirectoryWalkTest, LongNamesOverSeveralEntriesAndTheirChecksum) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const std::string longName = "Sommerferien am Meer mit der ganzen Familie.jpg";  // 46 units: 4 entries
    const auto ref = card.AddFile(card.Root(), longName, PatternBytes(100, 1));
    ASSERT_EQ(ref.longEntryOffsets.size(), 4u);
    card.AddFile(card.Root(), "Grüße aus Köln.jpg", PatternBytes(100, 2));
    // A second name whose last part carries another checksum: the name ends
    // there and the short name of the entry is used instead.
    const auto broken = card.AddFile(card.Root(), "A broken long name here.jpg", PatternBytes(100, 3));
    card.Image()->SetByte(broken.longEntryOffsets[1] + 13, 0x00);
    const auto& e = Walk(card);
    const auto names = FileNames(e);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], longName);
    EXPECT_EQ(names[1], "Grüße aus Köln.jpg");
    EXPECT_EQ(names[2], "ABROKE~3.JPG");
}

TEST_F(DirectoryWalkTest, DeletedLongNamesAreKeptAsWritten) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    card.Delete(card.AddFile(card.Root(), "Birthday cake.jpg", PatternBytes(5000, 1)), true);
    const auto& e = Walk(card);
    EXPECT_EQ(FileNames(e), std::vector<std::string>{"Birthday cake.jpg"});
}

TEST_F(DirectoryWalkTest, TheSameEntryTwiceIsListedOnce) {
    FatImageBuilder card(FatImageOptions::Fat16(32));
    const auto ref = card.AddFile(card.Root(), "IMG_0001.JPG", PatternBytes(100, 1));
    card.AddRawEntry(card.Root(), card.Image()->Read(ref.shortEntryOffset, 32));
    const auto& e = Walk(card);
    EXPECT_EQ(e.Files().size(), 1u);
}

TEST_F(DirectoryWalkTest, ALoopingDirectoryChainEnds) {
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;  // 16 entries per cluster
    FatImageBuilder card(o);
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    // Fill two clusters completely (no zero entry ends them), then loop.
    for (int i = 0; i < 30; ++i) card.AddFile(dcim, "IMG_" + std::to_string(1000 + i) + ".JPG", PatternBytes(10, i));
    ASSERT_EQ(card.EntryCount(dcim), 32u);
    card.MakeDirectoryLoop(dcim);
    const auto& e = Walk(card);
    EXPECT_EQ(e.Files().size(), 30u);
}

TEST_F(DirectoryWalkTest, AFolderThatContainsItselfIsWalkedOnce) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    const auto dcim = card.AddFolder(card.Root(), "DCIM");
    const auto& entry = card.FolderEntry(dcim);
    // An entry inside DCIM pointing back at DCIM, and one at the root.
    card.AddRawEntry(dcim, Entry("AGAIN      ", 0x10, entry.clusters[0], 0));
    card.AddRawEntry(dcim, Entry("ROOT       ", 0x10, 2, 0));
    card.AddFile(dcim, "IMG_0001.JPG", PatternBytes(10, 1));
    const auto& e = Walk(card);
    EXPECT_EQ(e.Files().size(), 1u);
    EXPECT_LE(e.Directories().size(), 4u);
}

TEST_F(DirectoryWalkTest, FoldersNestedDeeperThanAnyCardAreNotWalked) {
    // Each folder's cluster names the next one: thousands of levels took the
    // walk (and the saving of the tree) quadratic time in the depth.
    FatImageBuilder card(FatImageOptions::Fat16(4));
    DirHandle folder = card.Root();
    for (int depth = 1; depth <= 300; ++depth) {
        folder = card.AddFolder(folder, "N");
        if (depth == 100) card.AddFile(folder, "IMG_0100.JPG", PatternBytes(100, 1));
        if (depth == 300) card.AddFile(folder, "IMG_0300.JPG", PatternBytes(100, 2));
    }
    const ScanResult scan = Scan(card, 64, /*keepFolders=*/true);
    std::string path;
    for (int depth = 1; depth <= 100; ++depth) path += "N/";
    EXPECT_TRUE(scan.files.count(path + "IMG_0100.JPG"));
    EXPECT_EQ(scan.filesFound, 1);
    EXPECT_FALSE(scan.errors.empty());
}

TEST_F(DirectoryWalkTest, FullFoldersSideBySideOnAWipedFatAreEachReadOnce) {
    // Without a FAT a folder's clusters are guessed to follow its first one;
    // full folders side by side made each read on through all the others
    // (thousands of folders took the walk minutes).
    FatImageBuilder card(FatImageOptions::Fat16(4));  // one-sector clusters: 16 entries
    const int folders = 100;
    std::vector<DirHandle> handles;
    for (int d = 0; d < folders; ++d) handles.push_back(card.AddFolder(card.Root(), "D" + std::to_string(d)));
    for (int d = 0; d < folders; ++d)
        for (int f = 0; f < 14; ++f) card.AddFile(handles[d], "F" + std::to_string(d * 100 + f) + ".JPG", {});
    card.WipeFat();
    const auto& e = Walk(card);
    EXPECT_EQ(e.Files().size(), 14u * folders);
    EXPECT_LT(volume->reads.size(), 4u * folders);
}

TEST_F(DirectoryWalkTest, MoreThan32767FilesAndFoldersAreCountedWhole) {
    // 512-byte clusters, 33,000 empty files (no data clusters) in 300
    // folders, 110 files each.
    FatImageOptions o = FatImageOptions::Fat16(32);
    o.sectorsPerCluster = 1;
    FatImageBuilder card(o);
    const int folders = 300, perFolder = 110;
    for (int d = 0; d < folders; ++d) {
        const auto dir = card.AddFolder(card.Root(), "D" + std::to_string(d));
        for (int f = 0; f < perFolder; ++f) card.AddFile(dir, "F" + std::to_string(d * 1000 + f) + ".JPG", {});
    }
    // And 33,000 folders would take too long to save; 32,800 empty folders
    // inside one folder check the walk's index.
    const auto many = card.AddFolder(card.Root(), "MANY");
    for (int d = 0; d < 32800; ++d) card.AddRawEntry(many, Entry(("X" + std::to_string(100000 + d) + "    ").substr(0, 8) + "   ", 0x10, 0, 0));
    const char letter = Attach(card);
    ScanResult result;
    engine::FATEngine e;
    Record(e, result);
    e.SetDestFolder(Dest().string() + "/");
    e.PreScan(std::string(1, letter), support::False);
    EXPECT_EQ(result.filesFound, folders * perFolder);
    EXPECT_EQ(result.lastProgress, folders * perFolder);
    EXPECT_GT(e.Directories().size(), 33000u);
}

TEST(NamePatterns, WildcardsOfTheStandardLists) {
    using engine::MatchesNamePattern;
    EXPECT_TRUE(MatchesNamePattern("SC00001.JPG", "SC?????.JPG"));
    EXPECT_TRUE(MatchesNamePattern("MG_1234.JPG", "MG_####.JPG"));
    EXPECT_FALSE(MatchesNamePattern("MG_12A4.JPG", "MG_####.JPG"));
    EXPECT_TRUE(MatchesNamePattern("MG_anything.JPG", "MG_*.JPG"));
    EXPECT_TRUE(MatchesNamePattern("00CANON", "##CANON"));
    EXPECT_TRUE(MatchesNamePattern("B", "[A-C]"));
    EXPECT_FALSE(MatchesNamePattern("B", "[!A-C]"));
    EXPECT_FALSE(MatchesNamePattern("sc00001.jpg", "SC?????.JPG"));  // case counts
    EXPECT_FALSE(MatchesNamePattern(std::string(60, 'a') + "b", std::string(30, '*') + "c"));
}

TEST(SafeNames, NamesFromTheCardCannotLeaveTheFolder) {
    using engine::SafeFileName;
    EXPECT_EQ(SafeFileName("../../etc/passwd"), ".._.._etc_passwd");
    EXPECT_EQ(SafeFileName(".."), "__");
    EXPECT_EQ(SafeFileName("."), "_");
    EXPECT_EQ(SafeFileName(""), "_");
    EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(SafeFileName("tab\there"), "tab_here");
    EXPECT_EQ(SafeFileName("back\\slash"), "back_slash");
    const std::string longName = std::string(300, 'x') + ".jpg";
    const std::string cut = SafeFileName(longName);
    EXPECT_LE(cut.size(), engine::MaxSafeNameBytes);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".jpg");
    std::string wide(151, 'a');
    for (int i = 0; i < 200; ++i) wide += "\xC3\xB6";  // U+00F6, two bytes each
    const std::string umlauts = SafeFileName(wide);
    EXPECT_LE(umlauts.size(), engine::MaxSafeNameBytes);
    EXPECT_EQ(umlauts.back(), '\xB6');  // not cut inside a character
    EXPECT_EQ(SafeFileName("esc\x1b[2J\xC2\x9B.jpg"), "esc_[2J_.jpg");
}

TEST(SafeNames, MessagesShowControlCharactersOfACardNameEscaped) {
    EXPECT_EQ(engine::PrintableName("\x1b]0;x\x07\x7f\xC2\x9B\xFF.JPG"), "\\x1B]0;x\\x07\\x7F\\u009B\\xFF.JPG");
    EXPECT_EQ(engine::PrintableName("Caf\xC3\xA9 \xE2\x82\xAC.JPG"), "Caf\xC3\xA9 \xE2\x82\xAC.JPG");
}

TEST_F(DirectoryWalkTest, HostileLongNamesAreSavedInsideTheDestination) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    card.AddFile(card.Root(), "../../escape.jpg", PatternBytes(100, 1));
    card.AddFile(card.Root(), "..", PatternBytes(100, 2), [] { FileOptions o; o.shortName = "DOTDOT  JPG"; return o; }());
    const ScanResult scan = Scan(card);
    EXPECT_TRUE(scan.files.count(".._.._escape.jpg"));
    EXPECT_FALSE(fs::exists(root_ / "escape.jpg"));
    EXPECT_FALSE(fs::exists(root_.parent_path() / "escape.jpg"));
}

TEST_F(DirectoryWalkTest, HostileFolderNamesStayInsideWhenTheTreeIsKept) {
    FatImageBuilder card(FatImageOptions::Fat32(64));
    const auto up = card.AddFolder(card.Root(), "../../up");
    card.AddFile(up, "IMG_0001.JPG", PatternBytes(100, 1));
    const ScanResult scan = Scan(card, 64, /*keepFolders=*/true);
    EXPECT_TRUE(scan.files.count(".._.._up/IMG_0001.JPG"));
    EXPECT_FALSE(fs::exists(root_.parent_path() / "up"));
}

} // namespace
} // namespace enginetest


namespace enginetest {
namespace {

TEST(ShortNames, BytesAreWindows1252AndLongNamesUtf16) {
    const std::uint8_t bytes[] = {0xE5, 0x80, 'A', 0x81};
    EXPECT_EQ(engine::Utf8FromCp1252(bytes, 4), "\xC3\xA5\xE2\x82\xAC" "A\xC2\x81");
    const char16_t units[] = {u'K', 0x00F6, 0xD83D, 0xDCF7, 0xD800, u'x'};
    EXPECT_EQ(engine::Utf8FromUtf16Units(units, 6), "K\xC3\xB6\xF0\x9F\x93\xB7\xEF\xBF\xBDx");
    engine::RawEntry raw{};
    std::memcpy(raw.data(), "\x05" "BC     TXT", 11);
    EXPECT_EQ(engine::BuildShortName(engine::ParseDirEntry(raw)), "\xC3\xA5" "BC.TXT");
    std::memcpy(raw.data(), "README     ", 11);
    EXPECT_EQ(engine::BuildShortName(engine::ParseDirEntry(raw)), "README");
}

} // namespace
} // namespace enginetest
