// The deep scan end to end: the library through COM activation (the shipped
// database and databases made here), drives attached from memory, the
// scripted user interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "JpegMaker.h"
#include "RecordingHost.h"
#include "TestVolume.h"
#include "TiffMaker.h"
#include "TypeBuilder.h"
#include "engine/FileTypeTable.h"
#include "engine/RawDevice.h"
#include "engine/Sha256.h"
#include "platform/com.h"
#include "platform/drives.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "support/ProgramFolder.h"
#include "wizard/CarvedFileWriter.h"
#include "wizard/DeepScan.h"
#include "wizard/WizardState.h"

namespace fs = std::filesystem;
using namespace wizardtest;

namespace {

constexpr std::uint32_t Sector = 512;

// A card's bytes, sector by sector.
struct Card {
    Card(std::size_t sectors, std::uint8_t fill = 0) : bytes(sectors * Sector, fill) {}
    void Put(std::size_t sector, const std::vector<std::uint8_t>& data, std::size_t byteInSector = 0) {
        std::copy(data.begin(), data.end(), bytes.begin() + static_cast<long>(sector * Sector + byteInSector));
    }
    std::vector<std::uint8_t> Range(std::size_t fromSector, std::size_t bytesLong) const {
        auto first = bytes.begin() + static_cast<long>(fromSector * Sector);
        return std::vector<std::uint8_t>(first, first + static_cast<long>(bytesLong));
    }
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

class DeepScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = fs::temp_directory_path() / ("tranquo-deepscan-" + std::to_string(::getpid()));
        fs::create_directories(scratch_);
        setenv("TRANQUO_REGISTRY", (scratch_ / "registry").c_str(), 1);
        platform::ReloadRegistry();
        CoInitialize(nullptr);
        ASSERT_TRUE(SUCCEEDED(platform::RegisterServer(support::ProgramFolder() + "/libTyphex.so")));
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }

    void SetUp() override {
        platform::ResetDrives();
        engine::ResetDriveTable();
        wizard::Wizard().NextFileNumber = 0;
        root_ = scratch_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root_);
        fs::create_directories(root_);
        host.root = root_.string() + "/";
        platform::SetUi(&ui);
    }
    void TearDown() override {
        platform::SetUi(nullptr);
        fs::current_path(scratch_);
    }

    void Attach(const Card& card, std::int32_t firstDataSector = 0) {
        volume = std::make_shared<MemoryVolume>(card.bytes, Sector);
        const char letter = platform::AttachVolume(volume, "deep scan test card");
        host.drive = engine::DriveNumberFromLetter(letter);
        host.geometry.BytesPerSector = Sector;
        host.geometry.TotalSectors = static_cast<std::int32_t>(card.bytes.size() / Sector);
        host.firstDataSector = firstDataSector;
    }

    static bool HaveShippedDatabase() { return fs::exists(support::ProgramFolder() + "/settings.zq4"); }
    static ISupportedFileTypes* Shipped() {
        engine::LoadFileTypeData();
        return engine::FileTypes();
    }

    std::int32_t Run(ISupportedFileTypes* types) { return scan.Run(host, types); }

    fs::path Folder() const { return root_ / "My Recovered Mobile Device" / "Deep Scan"; }
    std::vector<std::string> CarvedNames() const {
        std::vector<std::string> names;
        if (fs::exists(Folder())) {
            for (const auto& e : fs::directory_iterator(Folder())) names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::uint8_t> Carved(const std::string& name) const { return ReadAll(Folder() / name); }
    // The bytes of every carved file, in the order of their names.
    std::vector<std::vector<std::uint8_t>> AllCarved() const {
        std::vector<std::vector<std::uint8_t>> carved;
        for (const auto& name : CarvedNames()) carved.push_back(Carved(name));
        return carved;
    }

    static inline fs::path scratch_;
    fs::path root_;
    RecordingHost host;
    platform::ScriptedUi ui;
    std::shared_ptr<MemoryVolume> volume;
    wizard::DeepScan scan;
};

// A test type with no end rule: it runs until the next start.
platform::ComPtr<ISupportedFileTypes> OpenEndedTypes() {
    auto types = NewFileTypes();
    AddFileType(types.Get(), "raw", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE});
    return types;
}
const std::vector<std::uint8_t> OpenEndedStart = Bytes({0xAA, 0xBB, 0xCC, 0xDD, 0xEE});

// ---- the shipped database ----

TEST_F(DeepScanTest, CarvesRealJpegsWholeAcrossBlocksWithTheShippedDatabase) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    Card card(1200);
    const auto first = MakeJpeg(320, 240, 1);
    const auto second = MakeJpeg(640, 480, 2); // spans several 64-sector blocks
    const auto third = MakeJpeg(200, 150, 3);
    card.Put(10, first);
    card.Put(100, second);
    card.Put(1000, third);
    ASSERT_LT(10 + first.size() / Sector, 100u);
    ASSERT_LT(100 + second.size() / Sector, 1000u);
    Attach(card);
    host.sectorsAtOnce = 64;

    EXPECT_EQ(Run(Shipped()), 3);
    const auto names = CarvedNames();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].substr(0, 6), "00001.");
    EXPECT_EQ(Carved(names[0]), first);
    EXPECT_EQ(Carved(names[1]), second);
    EXPECT_EQ(Carved(names[2]), third);
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::Completed);
    EXPECT_EQ(host.imagesFound, 3);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(DeepScanTest, AJpegWhoseSectorTailIsNotZeroEndsAtItsEoi) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    // On a used card the slack after a photo holds old bytes: its end
    // pattern alone would not be accepted, but its structure ends it.
    Card card(400, 0x5A);
    const auto photo = MakeJpeg(320, 240, 4);
    card.Put(8, photo);
    const auto next = MakeJpeg(100, 100, 5);
    card.Put(200, next);
    Attach(card);

    EXPECT_EQ(Run(Shipped()), 2);
    const auto names = CarvedNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(Carved(names[0]), photo);
}

TEST_F(DeepScanTest, CarvesAGifAndAWaveByTheirStructureAndABrokenWaveUpToTheNextStart) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    // A WAVE file has no end pattern: its RIFF size ends it, mid-sector; one
    // whose size runs past the card's end runs until the next start.
    std::vector<std::uint8_t> wave = Bytes({'R', 'I', 'F', 'F', 0x24, 0x10, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                            16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0,
                                            'd', 'a', 't', 'a', 0, 0x10, 0, 0});
    for (int i = 0; i < 2048; ++i) {
        const auto sample = static_cast<std::int16_t>(8000.0 * std::sin(i * 0.05));
        wave.push_back(static_cast<std::uint8_t>(sample & 0xFF));
        wave.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
    }
    // The smallest complete GIF: one transparent pixel.
    const auto gif = Bytes({0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF,
                            0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
                            0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B});
    auto broken = wave;
    broken[7] = 0x7F;
    Card card(64, 0x5A);
    card.Put(3, wave);
    card.Put(20, broken);
    card.Put(40, gif);
    Attach(card);
    host.sectorsAtOnce = 8;

    EXPECT_EQ(Run(Shipped()), 3);
    EXPECT_EQ(CarvedNames(), (std::vector<std::string>{"00001.WAV", "00002.WAV", "00003.GIF"}));
    EXPECT_EQ(Carved("00001.WAV"), wave);
    EXPECT_EQ(Carved("00002.WAV"), card.Range(20, 20 * Sector));
    EXPECT_EQ(Carved("00003.GIF"), gif);
}

// An MP3's last frame ends two bytes before a sector boundary, and those
// two bytes look like the sync of a further frame: the walk sees only with
// the next sector that they are not. The file still ends at its last frame,
// whether the next sector starts a photo or holds old bytes, and whether
// the bytes to drop were written already (a block ends there) or not.
TEST_F(DeepScanTest, AFileWhoseStructureEndsJustBeforeTheSectorItWasSeenInEndsExactly) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    std::vector<std::uint8_t> mp3 = Bytes({'I', 'D', '3', 3, 0, 0, 0, 0, 3, 0x4F}); // a tag of 463 bytes
    mp3.resize(mp3.size() + 463, 0);
    for (int frame = 0; frame < 5; ++frame) {
        const auto header = Bytes({0xFF, 0xFB, 0x90, 0x00}); // 417 bytes at 128 kbit/s, 44.1 kHz
        mp3.insert(mp3.end(), header.begin(), header.end());
        mp3.resize(mp3.size() + 413, static_cast<std::uint8_t>(0x11 * (frame + 1)));
    }
    ASSERT_EQ(mp3.size(), 5 * Sector - 2);
    const auto photo = MakeJpeg(100, 100, 6);
    for (const std::int32_t atOnce : {5, 64}) {
        Card card(40, 0x5A);
        card.Put(0, mp3);
        card.Put(4, Bytes({0xFF, 0xFB}), Sector - 2);
        card.Put(5, photo);
        card.Put(20, mp3);
        card.Put(24, Bytes({0xFF, 0xFB}), Sector - 2);
        Attach(card);
        host.sectorsAtOnce = atOnce;
        host.root = (root_ / std::to_string(atOnce)).string() + "/";
        wizard::Wizard().NextFileNumber = 0;

        EXPECT_EQ(Run(Shipped()), 3);
        const fs::path folder = root_ / std::to_string(atOnce) / "My Recovered Mobile Device" / "Deep Scan";
        EXPECT_EQ(ReadAll(folder / "00001.MP3"), mp3) << atOnce;
        EXPECT_EQ(ReadAll(folder / "00002.JPG"), photo) << atOnce;
        EXPECT_EQ(ReadAll(folder / "00003.MP3"), mp3) << atOnce;
    }
}

// Photos as cameras write them: an end pattern inside the header (the
// thumbnail's, the preview's, each followed by zeros) does not end the photo,
// even when the header runs across blocks.
TEST_F(DeepScanTest, CameraPhotosAreCarvedWholePastTheirEmbeddedPictures) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    const auto thumbnail = MakeJpeg(160, 120, 20);
    const auto preview = MakeJpeg(240, 180, 21);
    ASSERT_LT(preview.size(), 60000u);
    const std::vector<std::vector<std::uint8_t>> photos = {
        MakeCameraJpeg(MakeJpeg(320, 240, 22), thumbnail, 8192),
        MakeCameraJpeg(MakeJpeg(300, 200, 23), thumbnail, 20000),
        MakeCameraJpeg(MakeJpeg(320, 240, 24), thumbnail, 65000),
        // The preview starts on a sector boundary of the photo: no new file.
        MakeCameraJpeg(MakeJpeg(280, 210, 25), thumbnail, 24 * Sector - 15, preview, 65000),
    };
    // A header that does not chain up: the end test counts from the start.
    auto damaged = MakeCameraJpeg(MakeJpeg(200, 150, 26), thumbnail, 8192);
    damaged[3] = 0x00; // no marker after the start
    Card card(2000);
    const std::size_t at[] = {3, 300, 700, 1100};
    for (std::size_t i = 0; i < photos.size(); ++i) card.Put(at[i], photos[i]);
    card.Put(1600, damaged);
    Attach(card);
    host.sectorsAtOnce = 16; // headers of up to 128 sectors run across blocks

    EXPECT_EQ(Run(Shipped()), 5);
    const auto names = CarvedNames();
    ASSERT_EQ(names.size(), 5u);
    for (std::size_t i = 0; i < photos.size(); ++i) EXPECT_EQ(Carved(names[i]), photos[i]) << names[i];
    const auto cut = Carved(names[4]);
    const auto thumbnailEnd = std::search(damaged.begin(), damaged.end(), thumbnail.end() - 2, thumbnail.end());
    EXPECT_EQ(cut.size(), static_cast<std::size_t>(thumbnailEnd - damaged.begin()) + 2);
}

// Raw files (a Canon-like CR2, a big-endian TIFF) whose preview JPEG starts
// on a sector boundary: each is carved whole, up to its last byte, and the
// photo after it on its own.
TEST_F(DeepScanTest, RawFilesAreCarvedWholePastTheirEmbeddedPictures) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    const auto thumbnail = MakeJpeg(160, 120, 40);
    const auto cr2 = MakeRawTiff(false, thumbnail, MakeJpeg(320, 240, 41), 40000, 1).bytes;
    const auto tif = MakeRawTiff(true, thumbnail, MakeJpeg(300, 200, 42), 30000, 2).bytes;
    const auto photo = MakeJpeg(200, 150, 43);
    Card card(700);
    card.Put(3, cr2);
    card.Put(200, photo);
    card.Put(300, tif);
    card.Put(500, photo);
    Attach(card);
    host.sectorsAtOnce = 16; // the files run across blocks

    EXPECT_EQ(Run(Shipped()), 4);
    EXPECT_EQ(CarvedNames(), (std::vector<std::string>{"00001.CR2", "00002.JPG", "00003.TIF", "00004.JPG"}));
    EXPECT_EQ(Carved("00001.CR2"), cr2);
    EXPECT_EQ(Carved("00002.JPG"), photo);
    EXPECT_EQ(Carved("00003.TIF"), tif);
    EXPECT_EQ(Carved("00004.JPG"), photo);
}

// A raw file whose directories do not add up is carved as without them: cut
// where its thumbnail starts (on a sector boundary), the thumbnail and the
// preview carved as photos of their own. A start inside its raw data that no directory
// puts there is another file written over it, and ends the raw file.
TEST_F(DeepScanTest, ARawFileWhoseDirectoriesDoNotAddUpIsCutAsBefore) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    const auto raw = MakeRawTiff(false, MakeJpeg(160, 120, 44), MakeJpeg(320, 240, 45), 40000, 3);
    auto loop = raw.bytes;
    loop[RawTiffIfd1Next] = RawTiffIfd0;
    auto absurd = raw.bytes;
    absurd[RawTiffIfd0 + 1] = 0xEA; // 59,910 entries
    auto beyond = raw.bytes;
    beyond[RawTiffSubIfdPointer + 3] = 0x10; // a SubIFD 256 MiB on
    auto overwritten = raw.bytes;
    const std::size_t foreignAt = (raw.rawAt / Sector + 20) * Sector;
    const auto foreign = MakeJpeg(64, 48, 46);
    std::copy(foreign.begin(), foreign.end(), overwritten.begin() + static_cast<long>(foreignAt));
    Card card(1000);
    const std::size_t at[] = {3, 203, 403, 603};
    for (std::size_t i = 0; i < 4; ++i) card.Put(at[i], std::vector{loop, absurd, beyond, overwritten}[i]);
    Attach(card);

    Run(Shipped());
    const auto names = CarvedNames();
    ASSERT_EQ(names.size(), 11u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(names[3 * i].substr(5), ".CR2");
        EXPECT_EQ(Carved(names[3 * i]), card.Range(at[i], RawTiffThumbnail)) << names[3 * i];
    }
    EXPECT_EQ(Carved(names[9]), card.Range(at[3], foreignAt));
    const auto carvedForeign = Carved(names[10]); // runs on over the raw data behind it
    ASSERT_GE(carvedForeign.size(), foreign.size());
    EXPECT_TRUE(std::equal(foreign.begin(), foreign.end(), carvedForeign.begin()));
}

// A structure's claim is a guess about bytes that may be stale or hostile:
// none of these hides the photos after it.
TEST_F(DeepScanTest, AClaimNeverHidesAPhoto) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    const auto photo = MakeJpeg(320, 240, 50);
    const auto other = MakeJpeg(200, 150, 51);
    // A TIFF header whose one tag claims 4 GiB of metadata.
    TiffWriter tiff(false);
    tiff.Header(8);
    tiff.Directory(8, {{0x927C, 7, 0xFFFFFF00u, 26}}, 0);
    tiff.bytes.resize(Sector, 0);
    // A JPEG remnant whose segment claims 30,000 bytes, of which 4 KiB are left.
    std::vector<std::uint8_t> remnant = Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x75, 0x30});
    remnant.resize(4096, 0x5A);
    // A JPEG remnant with a segment of 0xFFFF bytes.
    std::vector<std::uint8_t> longSegment = Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF});
    longSegment.resize(Sector, 0x5A);
    Card card(1200);
    card.Put(10, tiff.bytes);
    card.Put(11, photo);
    card.Put(200, remnant);
    card.Put(208, photo);
    card.Put(400, longSegment);
    card.Put(401, photo);
    card.Put(460, other); // still inside the 64 KiB the segment claims
    card.Put(600, longSegment);
    card.Put(601, photo); // the claim is cut by an unreadable sector after it
    ASSERT_NE(card.bytes[200 * Sector + 30004], 0xFF); // where the claim breaks
    ASSERT_NE(card.bytes[400 * Sector + 65539], 0xFF);
    Attach(card);
    volume->failingSectors = {680};

    // In large reads and in reads that end inside the claims (the scan then
    // reads the photos again).
    for (const std::int32_t sectorsAtOnce : {4000, 16}) {
        fs::remove_all(Folder());
        host.sectorsAtOnce = sectorsAtOnce;
        Run(Shipped());
        const std::vector<std::vector<std::uint8_t>> carved = AllCarved();
        EXPECT_EQ(std::count(carved.begin(), carved.end(), photo), 4) << sectorsAtOnce;
        EXPECT_EQ(scan.LastOutcome().unreadableSectors, 1);
        EXPECT_EQ(std::count(carved.begin(), carved.end(), other), 1) << sectorsAtOnce;
    }
}

// A stale sound's header whose data chunk claims the next 300,000 bytes,
// where photos were stored since: the sound is carved as its header says,
// and each photo, whose own structure checks out, is carved too (read
// again from where it starts).
TEST_F(DeepScanTest, APhotoInsideAStaleClaimIsCarvedToo) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    const std::uint32_t dataBytes = 300000;
    const std::uint32_t riffBytes = 36 + dataBytes;
    auto le32 = [](std::uint32_t v) { return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)}); };
    std::vector<std::uint8_t> header = Bytes({'R', 'I', 'F', 'F'});
    for (auto b : le32(riffBytes)) header.push_back(b);
    for (auto b : Bytes({'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80,
                         0x3E, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a'}))
        header.push_back(b);
    for (auto b : le32(dataBytes)) header.push_back(b);
    const auto photo = MakeJpeg(320, 240, 60);
    const auto other = MakeJpeg(200, 150, 61);
    Card card(1200, 0x5A);
    card.Put(10, header);
    card.Put(12, photo);
    card.Put(300, other);
    card.Put(700, photo); // after the claim
    Attach(card);

    for (const std::int32_t sectorsAtOnce : {4000, 16}) {
        fs::remove_all(Folder());
        host.sectorsAtOnce = sectorsAtOnce;
        Run(Shipped());
        const std::vector<std::vector<std::uint8_t>> carved = AllCarved();
        EXPECT_EQ(std::count(carved.begin(), carved.end(), photo), 2) << sectorsAtOnce;
        EXPECT_EQ(std::count(carved.begin(), carved.end(), other), 1) << sectorsAtOnce;
        EXPECT_EQ(std::count(carved.begin(), carved.end(), card.Range(10, 8 + riffBytes)), 1) << sectorsAtOnce;
    }
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// A card written by other tools (mkfs.fat and mtools) and then quick
// formatted: the deep scan brings back every camera photo whole.
TEST_F(DeepScanTest, EveryPhotoOfAQuickFormattedCardComesBackWhole) {
    if (!HaveShippedDatabase()) GTEST_SKIP() << "settings.zq4 is not built";
    if (Shell("command -v mkfs.fat && command -v mcopy") != 0) GTEST_SKIP() << "dosfstools or mtools missing";
    const fs::path image = root_ / "card.img";
    const std::string quoted = "'" + image.string() + "'";
    ASSERT_EQ(Shell("truncate -s 16M " + quoted + " && mkfs.fat -F 16 -n CARD " + quoted), 0);
    const auto thumbnail = MakeJpeg(160, 120, 30);
    std::vector<std::vector<std::uint8_t>> photos;
    for (std::uint32_t i = 0; i < 12; ++i) {
        photos.push_back(MakeCameraJpeg(MakeJpeg(320 + 16 * static_cast<int>(i), 240, 31 + i), thumbnail,
                                        4096 + 5000 * i));
        const fs::path local = root_ / ("DSC" + std::to_string(1000 + i) + ".JPG");
        const auto& photo = photos.back();
        std::ofstream(local, std::ios::binary)
            .write(reinterpret_cast<const char*>(photo.data()), static_cast<std::streamsize>(photo.size()));
        ASSERT_EQ(Shell("mcopy -i " + quoted + " '" + local.string() + "' ::/"), 0);
    }
    ASSERT_EQ(Shell("mkfs.fat -F 16 -n CARD " + quoted), 0); // the quick format
    Card card(0);
    card.bytes = ReadAll(image);
    Attach(card);

    Run(Shipped());
    std::size_t whole = 0;
    for (const auto& name : CarvedNames()) whole += std::count(photos.begin(), photos.end(), Carved(name));
    EXPECT_EQ(whole, photos.size());
}

// ---- blocks and reads ----

TEST_F(DeepScanTest, BlocksStartAtTheFirstDataSectorAndTheLastIsShorter) {
    Card card(10000);
    Attach(card, 100);
    host.sectorsAtOnce = 4000;

    Run(OpenEndedTypes().Get());
    ASSERT_EQ(volume->reads.size(), 3u);
    EXPECT_EQ(volume->reads[0].sector, 100u);
    EXPECT_EQ(volume->reads[0].sectors, 4000u);
    EXPECT_EQ(volume->reads[1].sector, 4100u);
    EXPECT_EQ(volume->reads[2].sector, 8100u);
    EXPECT_EQ(volume->reads[2].sectors, 1900u);
    EXPECT_EQ(volume->writes, 0);
}

TEST_F(DeepScanTest, SectorsAtOnceIsBoundByTheBuffer) {
    Card card(9000);
    Attach(card);
    host.sectorsAtOnce = 30000; // would overrun the 2,048,001-byte buffer

    Run(OpenEndedTypes().Get());
    ASSERT_FALSE(volume->reads.empty());
    EXPECT_EQ(volume->reads[0].sectors, 4000u);
}

TEST_F(DeepScanTest, AnUnreadableFirstSectorIsReportedAndTheScanGoesOn) {
    Card card(100);
    card.Put(40, OpenEndedStart);
    Attach(card, 20);
    volume->failingSectors = {20};
    host.retryLimit = 2;

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 1);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "T43");
    EXPECT_EQ(ui.boxes[0].style, 48);
    EXPECT_EQ(ui.boxes[0].title, "T27");
    EXPECT_EQ(host.readErrors, 2);
    EXPECT_EQ(Carved("00001.raw"), card.Range(40, 60 * Sector));
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::ReadFailure);
    EXPECT_EQ(scan.LastOutcome().unreadableSectors, 1);
}

// Unreadable sectors are found one by one and lost alone: the file across
// them is cut at the last sector read and reported incomplete, and what
// follows them is carved.
TEST_F(DeepScanTest, TheScanGoesOnPastUnreadableSectors) {
    Card card(400, 0x11);
    card.Put(50, OpenEndedStart);
    card.Put(250, OpenEndedStart);
    card.Put(310, OpenEndedStart);
    Attach(card);
    host.sectorsAtOnce = 64;
    host.retryLimit = 2;
    volume->failingSectors = {300, 301, 302, 303};

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 3);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(Carved("00001.raw"), card.Range(50, 200 * Sector));
    EXPECT_EQ(Carved("00002.raw"), card.Range(250, 50 * Sector));
    EXPECT_EQ(Carved("00003.raw"), card.Range(310, 90 * Sector));
    EXPECT_EQ(host.ends, (std::vector<wizard::CarvedFileEnd>{wizard::CarvedFileEnd::Complete,
                                                              wizard::CarvedFileEnd::CutAtUnreadableSector,
                                                              wizard::CarvedFileEnd::Complete}));
    const auto& outcome = scan.LastOutcome();
    EXPECT_EQ(outcome.end, wizard::DeepScanEnd::ReadFailure);
    EXPECT_EQ(outcome.unreadableSectors, 4);
    EXPECT_EQ(outcome.skippedSectors, 0);
    EXPECT_EQ(outcome.incompleteFiles, 1);
    // The block read, then one single read of its first sector, then one
    // failed read per bad sector.
    EXPECT_EQ(outcome.readErrors, 5);
    EXPECT_EQ(host.readErrors, 5);
}

// A long unreadable stretch is skipped in growing steps: a handful of reads
// instead of one per sector, and the photo after it is carved.
TEST_F(DeepScanTest, ALongUnreadableStretchIsSkippedInGrowingSteps) {
    Card card(20000, 0x11);
    card.Put(10000, OpenEndedStart); // right after the stretch
    card.Put(12000, OpenEndedStart);
    Attach(card);
    host.sectorsAtOnce = 1000;
    for (std::uint64_t s = 100; s < 10000; ++s) volume->failingSectors.insert(s);

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 2);
    EXPECT_EQ(Carved("00001.raw"), card.Range(10000, 2000 * Sector)); // the stretch's end is found again
    EXPECT_EQ(Carved("00002.raw"), card.Range(12000, 8000 * Sector));
    const auto& outcome = scan.LastOutcome();
    EXPECT_LT(volume->reads.size(), 200u);
    EXPECT_EQ(outcome.unreadableSectors, 9900);
    EXPECT_GT(outcome.skippedSectors, 9000);
}

// Two unreadable stretches less than a block apart: the scan ends, every
// sector is tried a bounded number of times, and the count is the true one.
TEST_F(DeepScanTest, NearbyUnreadableStretchesEndWithTheTrueCount) {
    Card card(8000, 0x11);
    card.Put(3000, OpenEndedStart);
    Attach(card);
    host.sectorsAtOnce = 4000;
    for (std::uint64_t s = 0; s < 16; ++s) volume->failingSectors.insert({1000 + s, 2500 + s});

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 1);
    EXPECT_EQ(Carved("00001.raw"), card.Range(3000, 5000 * Sector));
    EXPECT_EQ(scan.LastOutcome().unreadableSectors, 32);
    std::map<std::uint64_t, int> tries;
    for (const auto& read : volume->reads) {
        for (std::uint64_t s = read.sector; s < read.sector + read.sectors; ++s) ++tries[s];
    }
    for (const auto& [sector, count] : tries) ASSERT_LE(count, 4) << "sector " << sector;
}

TEST_F(DeepScanTest, TheLastPartialSectorOfAnImageIsScannedToo) {
    Card card(20, 0x11);
    card.Put(19, OpenEndedStart);
    card.bytes.resize(20 * Sector + 100, 0x22);
    std::copy(OpenEndedStart.begin(), OpenEndedStart.end(), card.bytes.begin() + 20 * Sector);
    Attach(card);

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 2);
    EXPECT_EQ(Carved("00001.raw"), card.Range(19, Sector));
    EXPECT_EQ(Carved("00002.raw"), card.Range(20, 100));
}

TEST_F(DeepScanTest, RetryLimitCountsEveryAttemptAndIsReadAgainEachTime) {
    Card card(300);
    Attach(card);
    host.sectorsAtOnce = 100;
    host.retryLimit = 3;
    volume->failingSectors = {200}; // the first sector of the third block

    Run(OpenEndedTypes().Get());
    // Then the rest of the block, sector by sector.
    ASSERT_EQ(volume->reads.size(), 5u + 99u);
    EXPECT_EQ(volume->reads[5].sector, 201u);
    EXPECT_EQ(volume->reads[2].sector, 200u);
    EXPECT_EQ(volume->reads[2].sectors, 100u);
    EXPECT_EQ(volume->reads[3].sectors, 1u);
    EXPECT_EQ(volume->reads[4].sectors, 1u);
    EXPECT_EQ(volume->reads[4].sector, 200u);
    EXPECT_EQ(host.readErrors, 3);
    EXPECT_EQ(host.retryLimitReads, 3);
    EXPECT_TRUE(ui.boxes.empty());
}

// ---- where files end ----

TEST_F(DeepScanTest, ANewStartEndsThePreviousFileAtTheSectorBefore) {
    Card card(1000, 0x42);
    card.Put(500, OpenEndedStart);
    card.Put(530, OpenEndedStart);
    Attach(card);
    host.sectorsAtOnce = 16; // the second start lies in a later block

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 2);
    EXPECT_EQ(Carved("00001.raw"), card.Range(500, 30 * Sector));
    // Without an end rule the last file runs to the end of the drive.
    EXPECT_EQ(Carved("00002.raw"), card.Range(530, 470 * Sector));
}

TEST_F(DeepScanTest, AnEndFoundInTheStartSectorGivesAFileShorterThanASector) {
    auto types = NewFileTypes();
    AddFileType(types.Get(), "end", {0x45, 0x4E, 0x44, 0x21}, {{0xE0, 0xE1}});
    Card card(50);
    card.Put(7, Bytes({0x45, 0x4E, 0x44, 0x21, 1, 2, 3, 0xE0, 0xE1}));
    // An end pattern with bytes after it in its sector is not an end.
    card.Put(20, Bytes({0x45, 0x4E, 0x44, 0x21, 0xE0, 0xE1, 9}));
    card.Put(22, Bytes({0xE0, 0xE1}), 100);
    Attach(card);

    EXPECT_EQ(Run(types.Get()), 2);
    EXPECT_EQ(Carved("00001.end"), card.Range(7, 9));
    EXPECT_EQ(Carved("00002.end"), card.Range(20, 2 * Sector + 102));
}

TEST_F(DeepScanTest, AnEndPatternAcrossASectorOrBlockBoundaryIsFound) {
    auto types = NewFileTypes();
    AddFileType(types.Get(), "end", {0x45, 0x4E, 0x44, 0x21}, {{0xE0, 0xE1, 0xE2, 0xE3}});
    Card card(64);
    const auto end = Bytes({0xE0, 0xE1, 0xE2, 0xE3});
    card.Put(5, Bytes({0x45, 0x4E, 0x44, 0x21}));
    card.Put(6, end, Sector - 2); // two bytes in sector 6, two in sector 7
    card.Put(20, Bytes({0x45, 0x4E, 0x44, 0x21}));
    card.Put(23, end, Sector - 3); // sector 24 begins the next block
    Attach(card);
    host.sectorsAtOnce = 8;

    EXPECT_EQ(Run(types.Get()), 2);
    EXPECT_EQ(Carved("00001.end"), card.Range(5, 2 * Sector + 2));
    EXPECT_EQ(Carved("00002.end"), card.Range(20, 4 * Sector + 1));
}

TEST_F(DeepScanTest, AFixedLengthFileIsItsSizeLongEvenAcrossBlocks) {
    auto types = NewFileTypes();
    AddFileType(types.Get(), "fix", {0x46, 0x49, 0x58, 0x44}, {}, true, 3000);
    Card card(64, 0x77);
    card.Put(2, Bytes({0x46, 0x49, 0x58, 0x44}));
    card.Put(30, Bytes({0x46, 0x49, 0x58, 0x44}));
    card.Put(33, Bytes({0x46, 0x49, 0x58, 0x44})); // cuts the second one short
    Attach(card);
    host.sectorsAtOnce = 4;

    EXPECT_EQ(Run(types.Get()), 3);
    EXPECT_EQ(Carved("00001.fix"), card.Range(2, 3000));
    EXPECT_EQ(Carved("00002.fix"), card.Range(30, 3 * Sector));
    EXPECT_EQ(Carved("00003.fix"), card.Range(33, 3000));
}

TEST_F(DeepScanTest, TheFirstTypeInListOrderWins) {
    auto types = NewFileTypes();
    AddFileType(types.Get(), "one", {0xAA, 0xBB}, {}, true, 100);
    AddFileType(types.Get(), "two", {0xAA, 0xBB, 0xCC}, {}, true, 200);
    Card card(8);
    card.Put(1, Bytes({0xAA, 0xBB, 0xCC}));
    Attach(card);

    Run(types.Get());
    EXPECT_EQ(CarvedNames(), std::vector<std::string>{"00001.one"});
    EXPECT_EQ(Carved("00001.one").size(), 100u);
}

// ---- Stop ----

TEST_F(DeepScanTest, StopDuringABlockKeepsTheSectorsAlreadyExamined) {
    Card card(4000, 0x33);
    card.Put(0, OpenEndedStart);
    Attach(card);
    host.sectorsAtOnce = 4000;
    // Pump 1 is the scan's start; pump 2 comes at the 16th sector.
    ui.AtPump(2, [this] { host.stop = true; });

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 1);
    EXPECT_EQ(Carved("00001.raw"), card.Range(0, 16 * Sector));
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::Stopped);
    // The file may go on beyond where Stop came: it is not whole.
    EXPECT_EQ(host.ends, std::vector<wizard::CarvedFileEnd>{wizard::CarvedFileEnd::CutByStop});
    EXPECT_EQ(scan.LastOutcome().incompleteFiles, 1);
}

// However few sectors a read holds, Stop takes effect within one read, also
// when no file is being carved.
TEST_F(DeepScanTest, StopTakesEffectWithinOneSmallBlock) {
    Card card(400);
    Attach(card);
    host.sectorsAtOnce = 4;
    ui.AtPump(3, [this] { host.stop = true; });

    Run(OpenEndedTypes().Get());
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::Stopped);
    EXPECT_LE(volume->reads.size(), 3u);
}

TEST_F(DeepScanTest, TheScanClearsAnEarlierStop) {
    Card card(20);
    card.Put(3, OpenEndedStart);
    Attach(card);
    host.stop = true;

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 1);
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::Completed);
}

// ---- names and counters ----

TEST_F(DeepScanTest, NamesSkipFilesThatAlreadyExistAndCarryThePrefix) {
    fs::create_directories(Folder());
    std::ofstream(Folder() / "card_00001.raw") << "earlier";
    std::ofstream(Folder() / "card_00002.raw") << "earlier";
    Card card(30);
    card.Put(4, OpenEndedStart);
    card.Put(9, OpenEndedStart);
    Attach(card);
    host.prefix = "card_";

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 2);
    EXPECT_EQ(CarvedNames(),
              (std::vector<std::string>{"card_00001.raw", "card_00002.raw", "card_00003.raw", "card_00004.raw"}));
    EXPECT_EQ(ReadAll(Folder() / "card_00001.raw").size(), 7u); // untouched
    EXPECT_EQ(wizard::Wizard().NextFileNumber, 4);
}

TEST_F(DeepScanTest, NextFileNumberCarriesOverFromAnEarlierScan) {
    Card card(30);
    card.Put(4, OpenEndedStart);
    Attach(card);
    wizard::Wizard().NextFileNumber = 57;

    Run(OpenEndedTypes().Get());
    EXPECT_EQ(CarvedNames(), std::vector<std::string>{"00058.raw"});

    // A second scan in the same process goes on from there.
    Run(OpenEndedTypes().Get());
    EXPECT_EQ(CarvedNames(), (std::vector<std::string>{"00058.raw", "00059.raw"}));
}

TEST_F(DeepScanTest, NumbersGoPast32767WithMoreDigitsAsNeeded) {
    Card card(30);
    card.Put(4, OpenEndedStart);
    card.Put(8, OpenEndedStart);
    Attach(card);
    wizard::Wizard().NextFileNumber = 32767;
    Run(OpenEndedTypes().Get());
    EXPECT_EQ(CarvedNames(), (std::vector<std::string>{"32768.raw", "32769.raw"}));

    wizard::Wizard().NextFileNumber = 99999;
    Run(OpenEndedTypes().Get());
    EXPECT_EQ(CarvedNames(), (std::vector<std::string>{"100000.raw", "100001.raw", "32768.raw", "32769.raw"}));
    EXPECT_TRUE(ui.boxes.empty());
}

// Past 100,000 files the search for a free number goes on: an earlier
// result is never replaced, and nobody is asked.
TEST_F(DeepScanTest, NamesStayFreeAboveAHundredThousandFiles) {
    constexpr std::size_t Files = 100003;
    if (fs::is_directory("/dev/shm")) { // 100,000 files are quicker made in memory
        root_ = fs::path("/dev/shm") / ("tranquo-names-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        host.root = root_.string() + "/";
    }
    fs::create_directories(Folder());
    std::ofstream(Folder() / "100002.raw") << "earlier";
    Card card(Files);
    for (std::size_t s = 0; s < Files; ++s) card.Put(s, OpenEndedStart);
    Attach(card);

    EXPECT_EQ(Run(OpenEndedTypes().Get()), static_cast<std::int32_t>(Files));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(ReadAll(Folder() / "100002.raw").size(), 7u);
    EXPECT_TRUE(fs::exists(Folder() / "100004.raw"));
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::Completed);
    std::error_code ignored;
    if (root_.string().rfind("/dev/shm/", 0) == 0) fs::remove_all(root_, ignored);
}

TEST_F(DeepScanTest, CountersAndTextsReachTheHost) {
    Card card(200);
    card.Put(10, OpenEndedStart);
    card.Put(150, OpenEndedStart);
    Attach(card);
    host.filesFoundShown = 7; // found by the turbo scan
    host.barMaximum = 40;
    host.sectorsAtOnce = 20;

    Run(OpenEndedTypes().Get());
    EXPECT_TRUE(host.scanningLook);
    EXPECT_EQ(host.statuses, std::vector<std::string>{"T33"});
    EXPECT_EQ(host.filesFound, 9);
    EXPECT_EQ(host.imagesFound, 2);
    EXPECT_EQ(host.readErrors, 0);
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.front(), 0);
    EXPECT_EQ(*std::max_element(host.progress.begin(), host.progress.end()), 40);
    EXPECT_EQ(host.currentFiles.back(), "00002.raw");
}

TEST_F(DeepScanTest, ARelativeRootStillReceivesEveryFile) {
    // The scan makes its folder the current directory: a relative root
    // must not then point somewhere else.
    fs::current_path(root_);
    host.root = "relative/";
    Card card(30);
    card.Put(4, OpenEndedStart);
    card.Put(9, OpenEndedStart);
    Attach(card);

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 2);
    const auto folder = root_ / "relative" / "My Recovered Mobile Device" / "Deep Scan";
    EXPECT_TRUE(fs::exists(folder / "00001.raw"));
    EXPECT_TRUE(fs::exists(folder / "00002.raw"));
    EXPECT_TRUE(ui.boxes.empty());
}

// ---- failures ----

// Writes beyond this many bytes fail while it is in force.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST_F(DeepScanTest, AFailedWriteEndsTheScanWithTheMessageOfItsStep) {
    Card card(4000, 0x21);
    card.Put(0, OpenEndedStart);
    card.Put(3000, OpenEndedStart); // in the same block: written when this start is found
    Attach(card);
    {
        FileSizeLimit limit(600000);
        Run(OpenEndedTypes().Get());
    }
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "T44 " + (Folder() / "00001.raw").string());
    EXPECT_EQ(ui.boxes[0].title, "T27");
    EXPECT_EQ(ui.boxes[0].style, platform::vbOKOnly);
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::WriteFailure);

    // At the end of a block the message is the other one.
    ui.boxes.clear();
    Card single(4000, 0x21);
    single.Put(0, OpenEndedStart);
    Attach(single);
    {
        FileSizeLimit limit(600000);
        Run(OpenEndedTypes().Get());
    }
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text.rfind("T47 ", 0), 0u) << ui.boxes[0].text;
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::WriteFailure);
}

// The writer buffers, so a destination that fills up may show it only when
// the file is closed: the file is still reported, counted and ends the scan,
// and only the bytes that reached the disk are counted as written.
TEST_F(DeepScanTest, AFileNotWrittenWholeIsReportedAndCounted) {
    Card card(20, 0x21);
    card.Put(2, OpenEndedStart);
    Attach(card);
    {
        FileSizeLimit limit(1000);
        Run(OpenEndedTypes().Get());
    }
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "T47 " + (Folder() / "00001.raw").string());
    const auto& outcome = scan.LastOutcome();
    EXPECT_EQ(outcome.end, wizard::DeepScanEnd::WriteFailure);
    EXPECT_EQ(outcome.filesNotWritten, 1);
    EXPECT_EQ(outcome.bytesWritten, 1000);
    EXPECT_EQ(host.ends, std::vector<wizard::CarvedFileEnd>{wizard::CarvedFileEnd::NotWrittenWhole});
}

TEST_F(DeepScanTest, AFileThatCannotBeCreatedIsARunTimeError) {
    std::ofstream(root_ / "not-a-folder") << "x";
    host.root = (root_ / "not-a-folder").string() + "/";
    Card card(30);
    card.Put(4, OpenEndedStart);
    Attach(card);

    EXPECT_EQ(Run(OpenEndedTypes().Get()), 1);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text.rfind("T15 ", 0), 0u) << ui.boxes[0].text;
    EXPECT_EQ(ui.boxes[0].style, platform::vbOKOnly);
    EXPECT_TRUE(host.backEnabled);
    EXPECT_EQ(scan.LastOutcome().end, wizard::DeepScanEnd::RunTimeError);
}

// Files are written and closed behind the scan: the next one is open while
// the last is finished, each keeps its own bytes and name, a name another
// run took meanwhile moves only the file that wanted it, and the bytes
// trimmed last never reach the disk.
TEST_F(DeepScanTest, FilesClosedBehindTheScanKeepTheirOwnBytesAndNames) {
    const std::string folder = root_.string() + "/out/";
    std::vector<BYTE> a(300000, 'a'), b(200000, 'b');
    std::int64_t next = 0;
    wizard::CarvedFileWriter writer(folder, "");
    ASSERT_TRUE(writer.ChooseName(next, 1, "JPG"));
    writer.Open();
    writer.Write(nullptr, a.data(), a.size(), 0, 150000, 1);
    writer.Write(nullptr, a.data(), a.size(), 150000, 150000, 1);
    writer.Trim(1000);
    writer.Close();
    ASSERT_TRUE(writer.ChooseName(next, 2, "JPG"));
    writer.Open();
    std::ofstream(folder + "00001.JPG") << "theirs"; // before the first is named
    writer.Write(nullptr, b.data(), b.size(), 0, static_cast<std::int32_t>(b.size()), 1);
    EXPECT_EQ(writer.Settle(), 0);
    writer.Close();

    auto first = writer.TakeClosed(next, true);
    auto second = writer.TakeClosed(next, true);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(writer.TakeClosed(next, true));
    EXPECT_EQ(first->path, folder + "00003.JPG");
    EXPECT_EQ(second->path, folder + "00002.JPG");
    EXPECT_TRUE(first->whole && second->whole);
    EXPECT_EQ(first->bytes, 299000);
    auto digest = [](const std::vector<BYTE>& bytes, std::size_t count) {
        engine::Sha256 hash;
        hash.Update(bytes.data(), count);
        return hash.HexDigest();
    };
    EXPECT_EQ(first->sha256, digest(a, 299000));
    EXPECT_EQ(second->sha256, digest(b, b.size()));
    EXPECT_EQ(fs::file_size(first->path), 299000u);
    EXPECT_EQ(fs::file_size(folder + "00001.JPG"), 6u);
}

// The bytes are written from the caller's blocks, which stay alive as long
// as the writer holds them; a file whose last bytes do not reach the disk is
// not whole and has no digest.
TEST_F(DeepScanTest, CarvedBytesAreWrittenFromTheirBlockAndALostLastPieceIsSaid) {
    const std::string folder = root_.string() + "/out/";
    auto block = std::make_shared<std::vector<BYTE>>(150000, 'c');
    std::int64_t next = 0;
    wizard::CarvedFileWriter writer(folder, "");
    ASSERT_TRUE(writer.ChooseName(next, 1, "JPG"));
    writer.Open();
    writer.Write(block, block->data(), block->size(), 0, 150000, 1);
    const std::weak_ptr<std::vector<BYTE>> held = block;
    block.reset(); // the writer's hold alone keeps the bytes
    {
        FileSizeLimit limit(100000);
        writer.Close();
        const auto closed = writer.TakeClosed(next, true);
        ASSERT_TRUE(closed);
        EXPECT_FALSE(closed->whole);
        EXPECT_EQ(closed->sha256, "");
    }
    EXPECT_TRUE(held.expired());
}

} // namespace
