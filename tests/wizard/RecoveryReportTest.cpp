// The run's report: DFXML that validates against the published schema and
// says, for every saved file, where on the card it came from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include "JpegMaker.h"
#include "support/ProgramFolder.h"
#include "engine/SafeName.h"
#include "wizard/RecoveryReport.h"
#include "engine/Sha256.h"

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
bool HaveTool(const std::string& name) { return Shell("command -v " + name + " >/dev/null 2>&1") == 0; }
std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Sha256Of(const std::string& bytes) {
    engine::Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

// Every report the tests make goes through this.
void ExpectValid(const fs::path& report) {
    ASSERT_TRUE(HaveTool("xmllint")) << "xmllint missing (scripts/setup)";
    EXPECT_EQ(Shell("xmllint --noout --schema " + Quote(fs::path(TRANQUO_TEST_DATA_DIR) / "dfxml" / "dfxml.xsd") +
                    " " + Quote(report) + " 2>&1"),
              0)
        << ReadText(report);
}

std::vector<std::string> FileObjects(const std::string& xml) {
    std::vector<std::string> blocks;
    const std::regex object("<fileobject>([\\s\\S]*?)</fileobject>");
    for (std::sregex_iterator it(xml.begin(), xml.end(), object), end; it != end; ++it) blocks.push_back((*it)[1]);
    return blocks;
}

std::string Tag(const std::string& block, const std::string& name) {
    std::smatch match;
    return std::regex_search(block, match, std::regex("<" + name + "[^>]*>([^<]*)</" + name + ">")) ? match[1].str()
                                                                                                    : "";
}

// The bytes the byte runs of a fileobject name, read from the image.
std::string RunBytes(const std::string& block, const fs::path& image) {
    std::ifstream in(image, std::ios::binary);
    std::string bytes;
    const std::regex run("img_offset=\"(\\d+)\" len=\"(\\d+)\"");
    for (std::sregex_iterator it(block.begin(), block.end(), run), end; it != end; ++it) {
        std::string part(std::stoull((*it)[2]), '\0');
        in.seekg(static_cast<std::streamoff>(std::stoull((*it)[1])));
        in.read(part.data(), static_cast<std::streamsize>(part.size()));
        bytes += part;
    }
    return bytes;
}

} // namespace

TEST(Sha256Test, StandardVectors) {
    EXPECT_EQ(Sha256Of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million "a" in uneven pieces crosses every block boundary.
    engine::Sha256 hash;
    const std::string piece(997, 'a');
    std::size_t left = 1000000;
    while (left > 0) {
        const std::size_t n = std::min(left, piece.size());
        hash.Update(piece.data(), n);
        left -= n;
    }
    EXPECT_EQ(hash.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(RecoveryReportTest, HostileNamesAndImpossibleDatesStayValid) {
    EXPECT_EQ(wizard::XmlText("a&<b>\"\x01\xff\xc0\xafok"), "a&amp;&lt;b&gt;&quot;\uFFFD\uFFFD\uFFFD\uFFFDok");
    EXPECT_EQ(wizard::XmlText("Caf\xc3\xa9"), "Caf\xc3\xa9");
    EXPECT_EQ(wizard::FatDateTime((44 << 9) | (5 << 5) | 1, (12 << 11) | (30 << 5) | 1), "2024-05-01T12:30:02");
    EXPECT_EQ(wizard::FatDateTime((44 << 9) | (13 << 5) | 1, 0), "");  // month 13
    EXPECT_EQ(wizard::FatDateTime(0, 0), "");
    EXPECT_EQ(wizard::FatDateTime((1 << 9) | (2 << 5) | 29, 0), "");   // 29 February 1981
    EXPECT_EQ(wizard::FatDateTime((120 << 9) | (2 << 5) | 29, 0), ""); // 2100 is no leap year
    EXPECT_EQ(wizard::FatDateTime((44 << 9) | (2 << 5) | 29, 0), "2024-02-29T00:00:00");
    EXPECT_EQ(wizard::FatDateTime((44 << 9) | (4 << 5) | 31, 0), "");  // 31 April
    // A name the report cannot hold is saved as the report lists it.
    for (const std::string name : {"A\uFFFF.JPG", "B\uFFFE.JPG", "C\xC2\x9B" "2J.JPG", "D\xFF\xFE.JPG", "Caf\xC3\xA9.JPG"})
        EXPECT_EQ(wizard::XmlText(engine::SafeFileName(name)), engine::SafeFileName(name)) << name;
}

// An exFAT card: its type, and times to the 10 ms with their offset from UTC.
TEST(RecoveryReportTest, ExFatTimesCarryTheirUtcOffset) {
    const fs::path dir = fs::temp_directory_path() / ("tranquo-report-exfat-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const std::string folder = wizard::RecoveredFolder(dir.string() + "/");
    wizard::ReportSource source;
    source.Layout.Usable = true;
    source.Layout.Source = engine::LayoutSource::BootSector;
    source.Layout.FATType = 4;
    source.Layout.Boot.BytesPerSector = 512;
    source.Layout.Boot.SectorsPerCluster = 256;  // 128 KiB clusters, more than FAT's byte holds
    {
        wizard::RecoveryReport report;
        ASSERT_TRUE(report.Open(folder, "", source, "", nullptr));
        engine::SavedFATFile saved;
        saved.CardPath = "DCIM/IMG_0001.JPG";
        saved.WriteDate = saved.CreateDate = (44 << 9) | (5 << 5) | 1;
        saved.WriteTime = saved.CreateTime = (12 << 11) | (30 << 5) | 1;
        saved.WriteTime10ms = 155;
        saved.WriteUtcOffset = 0x80 | 8;             // +02:00
        saved.CreateUtcOffset = 0x80 | (128 - 14);   // -03:30
        report.AddSavedFATFile(saved);
        report.Finish(wizard::RunState::Completed);
    }
    ExpectValid(folder + "report.xml");
    const std::string xml = ReadText(folder + "report.xml");
    EXPECT_NE(xml.find("<ftype_str>exFAT</ftype_str>"), std::string::npos);
    EXPECT_NE(xml.find("<block_size>131072</block_size>"), std::string::npos);
    EXPECT_NE(xml.find(">2024-05-01T12:30:03.55+02:00</mtime>"), std::string::npos) << xml;
    EXPECT_NE(xml.find(">2024-05-01T12:30:02-03:30</crtime>"), std::string::npos) << xml;
    fs::remove_all(dir);
}

// A run that stops or crashes between two files leaves a whole document;
// the next run adds its own report beside it.
TEST(RecoveryReportTest, AReportIsWholeAfterEveryFileAndNeverReplaced) {
    const fs::path dir = fs::temp_directory_path() / ("tranquo-report-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const std::string folder = wizard::RecoveredFolder(dir.string() + "/");
    fs::create_directories(folder + "Deep Scan");
    std::ofstream(folder + "Deep Scan/00001.JPG") << "carved";
    {
        wizard::RecoveryReport report;
        wizard::ReportSource source;
        source.Path = "/dev/sdz";
        ASSERT_TRUE(report.Open(folder, "", source, "tranquo-cli recover", nullptr));
        engine::SavedFATFile saved;
        saved.Folder = folder + "Deep Scan/";
        saved.SavedName = "00001.JPG";
        saved.CardPath = "DCIM/\x01\xff<&>.JPG";
        saved.WriteDate = 0xFFFF;  // no such date
        saved.Runs = {{4096, 6}};
        report.AddSavedFATFile(saved);
        wizard::CarvedFileReport carved;
        carved.Path = folder + "Deep Scan/00001.JPG";
        carved.Bytes = 6;
        carved.StartOffset = 8192;
        carved.Type = "JPG";
        carved.Complete = false;
        report.AddCarvedFile(carved);
        ExpectValid(folder + "report.xml");
        // Rewritten at most twice a second: a moment later it has them all.
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        report.SetFilesFound(2);
        // Not finished, still open: as a crash would leave it.
        ExpectValid(folder + "report.xml");
        const std::string xml = ReadText(folder + "report.xml");
        EXPECT_NE(xml.find("state=\"running\""), std::string::npos);
        EXPECT_EQ(Tag(FileObjects(xml).at(1), "hashdigest"), Sha256Of("carved"));
    }
    wizard::RecoveryReport later;
    ASSERT_TRUE(later.Open(folder, "", wizard::ReportSource{}, "", nullptr));
    later.Finish(wizard::RunState::Stopped);
    EXPECT_EQ(later.Path(), folder + "report (2).xml");
    ExpectValid(later.Path());
    EXPECT_EQ(FileObjects(ReadText(folder + "report.xml")).size(), 2u);
    fs::remove_all(dir);
}

// A card formatted by mkfs.fat and written by mtools, with a photo deleted.
class RecoveryReportCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy")) GTEST_SKIP() << "dosfstools or mtools missing (scripts/setup)";
        dir_ = fs::temp_directory_path() / ("tranquo-report-cli-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "local");
        image_ = dir_ / "card.img";
        ASSERT_EQ(Shell("mkfs.fat -C -F 16 -n CARD " + Quote(image_) + " 16384 >/dev/null"), 0);
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string m = "mmd -i " + Quote(image_) + " ";
        ASSERT_EQ(Shell(m + "::/DCIM ::/DCIM/100CAMERA ::/DCIM/101CAMERA"), 0);
        int n = 0;
        for (const std::string path : {"DCIM/100CAMERA/IMG_0001.JPG", "DCIM/100CAMERA/IMG_0002.JPG",
                                       "DCIM/101CAMERA/IMG_0001.JPG"}) {
            ++n;
            const auto jpeg = wizardtest::MakeJpeg(160 + 80 * n, 120, n);
            const std::string bytes(jpeg.begin(), jpeg.end());
            const fs::path local = dir_ / "local" / std::to_string(n);
            std::ofstream(local, std::ios::binary) << bytes;
            ASSERT_EQ(Shell("mcopy -i " + Quote(image_) + " " + Quote(local) + " '::/" + path + "'"), 0);
            content_[path] = bytes;
        }
        ASSERT_EQ(Shell("mdel -i " + Quote(image_) + " ::/DCIM/100CAMERA/IMG_0002.JPG"), 0);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int Cli(const std::string& arguments) {
        return Shell("TRANQUO_REGISTRY=" + Quote(dir_ / "registry") + " '" + support::ProgramFolder() +
                     "/tranquo-cli' --attach " + Quote(image_) + " " + arguments + " </dev/null >" +
                     Quote(dir_ / "out.txt") + " 2>&1");
    }

    fs::path dir_, image_;
    std::map<std::string, std::string> content_;  // by path on the card
};

TEST_F(RecoveryReportCliTest, TheReportSaysWhereEverySavedFileCameFrom) {
    const fs::path recovered = dir_ / "dest" / "My Recovered Mobile Device";
    // A report that cannot be written is said before anything is saved.
    EXPECT_EQ(Cli("recover --turbo-only --dest " + Quote(dir_ / "dest") + " --report " +
                  Quote(dir_ / "no-such-folder" / "r.xml")),
              1);
    EXPECT_FALSE(fs::exists(recovered / "Turbo Scan"));
    fs::remove_all(dir_ / "dest");
    ASSERT_EQ(Cli("recover --turbo-only --keep-folders --dest " + Quote(dir_ / "dest") + " --report " +
                  Quote(dir_ / "copy.xml")),
              0)
        << ReadText(dir_ / "out.txt");
    // The card's folders, not one flat folder.
    EXPECT_TRUE(fs::is_directory(recovered / "Turbo Scan/DCIM/100CAMERA"));
    EXPECT_TRUE(fs::is_directory(recovered / "Turbo Scan/DCIM/101CAMERA"));

    ExpectValid(recovered / "report.xml");
    ExpectValid(dir_ / "copy.xml");
    const std::string xml = ReadText(recovered / "report.xml");
    EXPECT_NE(xml.find("<ftype_str>FAT16</ftype_str>"), std::string::npos);
    EXPECT_NE(xml.find("state=\"completed\""), std::string::npos);
    const auto objects = FileObjects(xml);
    ASSERT_EQ(objects.size(), content_.size()) << xml;
    for (const auto& block : objects) {
        const std::string path = Tag(block, "filename");
        ASSERT_EQ(content_.count(path), 1u) << path;
        const std::string& bytes = content_[path];
        EXPECT_EQ(Tag(block, "alloc"), path == "DCIM/100CAMERA/IMG_0002.JPG" ? "0" : "1") << path;
        EXPECT_EQ(Tag(block, "filesize"), std::to_string(bytes.size())) << path;
        EXPECT_EQ(Tag(block, "hashdigest"), Sha256Of(bytes)) << path;
        EXPECT_EQ(RunBytes(block, image_), bytes) << path;
        EXPECT_EQ(Tag(block, "tq:saved"), "Turbo Scan/" + path);
        EXPECT_EQ(ReadText(recovered / ("Turbo Scan/" + path)), bytes) << path;
    }

    // A second run, both scans: its report goes beside the first. What the
    // deep scan carves again of the turbo scan's files is listed with them,
    // where the report says on the card, not kept twice.
    ASSERT_EQ(Cli("--yes recover --dest " + Quote(dir_ / "dest")), 0) << ReadText(dir_ / "out.txt");
    EXPECT_EQ(ReadText(recovered / "report.xml"), xml);
    ExpectValid(recovered / "report (2).xml");
    int alsoCarved = 0;
    for (const auto& block : FileObjects(ReadText(recovered / "report (2).xml"))) {
        EXPECT_EQ(block.find("scan=\"deep\""), std::string::npos) << block;
        const std::size_t at = block.find("<tq:also_carved fs_offset=\"");
        if (at == std::string::npos) continue;
        ++alsoCarved;
        EXPECT_NE(block.find("type=\"JPG\""), std::string::npos);
        EXPECT_NE(block.find("fs_offset=\"" + block.substr(at + 27, block.find('"', at + 27) - at - 27) + "\" img"),
                  std::string::npos)
            << block;
    }
    EXPECT_EQ(alsoCarved, 3);
}
