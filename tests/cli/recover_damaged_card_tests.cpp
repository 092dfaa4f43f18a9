// tranquo-cli recover on cards and destinations that go wrong: a boot
// sector whose layout is damaged, a card that cannot be opened, a full
// destination, and a FIFO where a file belongs. Each run must end, say
// what happened once, and exit with 1.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Command.h"
#include "platform/drives.h"
#include "support/ProgramFolder.h"
#include "tests/common/FatImageBuilder.h"
#include "tests/common/JpegPhoto.h"
#include "tests/wizard/TestVolume.h"

namespace {

namespace fs = std::filesystem;
using testcommon::FatImageBuilder;
using testcommon::FatImageOptions;

struct CliRun {
    int status;
    std::string text;  // standard output, the command's errors and the messages
};

CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    testing::internal::CaptureStderr();  // the console's message boxes
    const int status = cli::RunCli(args, out, err);
    const std::string boxes = testing::internal::GetCapturedStderr();
    return {status, out.str() + err.str() + boxes};
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::size_t FilesIn(const fs::path& folder) {
    std::size_t n = 0;
    if (fs::exists(folder))
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}

class RecoverDamagedCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TRANQUO_ATTACH");
        platform::ResetDrives();
        dir_ = fs::temp_directory_path() / ("tranquo-recover-damaged-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        platform::ResetDrives();
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(dir_);
    }
    // A camera card of 20 photos; patch damages its boot sector.
    fs::path Card(const std::string& name, std::uint32_t offset, std::vector<std::uint8_t> patch) {
        FatImageBuilder card(FatImageOptions::Fat16(64));
        const auto dcim = card.AddFolder(card.Root(), "DCIM");
        for (int i = 1; i <= 20; ++i)
            card.AddFile(dcim, "DSC" + std::to_string(10000 + i) + ".JPG", testcommon::MakeJpegPhoto(320, 240, i));
        if (!patch.empty()) card.PatchBootSector(offset, patch);
        const fs::path image = dir_ / name;
        card.WriteFile(image.string());
        return image;
    }
    fs::path Deep(const fs::path& dest) const { return dest / "My Recovered Mobile Device" / "Deep Scan"; }
    fs::path dir_;
};

TEST_F(RecoverDamagedCardTest, ABrokenLayoutIsSaidAndTheDeepScanSearchesTheWholeCard) {
    const std::pair<std::string, std::vector<std::uint8_t>> damage[] = {
        {"reserved", {0xFF, 0xFF}},  // 65,535 reserved sectors (offset 14)
        {"fats", {255}},             // 255 FATs (offset 16)
    };
    for (const auto& [what, bytes] : damage) {
        const fs::path image = Card(what + ".img", what == "reserved" ? 14 : 16, bytes);
        const fs::path dest = dir_ / ("out-" + what);
        const CliRun run = Cli({"--attach", image.string(), "--yes", "recover", "--dest", dest.string()});
        EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
        EXPECT_NE(run.text.find("boot sector of the drive is damaged"), std::string::npos) << run.text;
        EXPECT_NE(run.text.find("Turbo scan failed"), std::string::npos) << run.text;
        EXPECT_EQ(FilesIn(Deep(dest)), 20u) << what << "\n" << run.text;
        platform::ResetDrives();
    }
}

// A card whose first sector cannot be read is attached: the turbo scan says
// it cannot read the boot sector, and the deep scan reads the rest.
TEST_F(RecoverDamagedCardTest, AnUnreadableFirstSectorIsSaidAndTheDeepScanReadsTheRest) {
    FatImageBuilder card(FatImageOptions::Fat16(64));
    for (int i = 1; i <= 20; ++i)
        card.AddFile(card.Root(), "DSC" + std::to_string(10000 + i) + ".JPG", testcommon::MakeJpegPhoto(320, 240, i));
    auto volume = card.Volume();
    volume->failingSectors = {0};
    const char letter = platform::AttachVolume(volume, "card with a bad first sector");
    const fs::path dest = dir_ / "out";
    const CliRun run = Cli({"--yes", "recover", "--drive", std::string(1, letter), "--dest", dest.string()});
    EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
    EXPECT_EQ(Count(run.text, "boot sector of the drive (its first sector) cannot be read"), 1u) << run.text;
    EXPECT_EQ(FilesIn(Deep(dest)), 20u) << run.text;
    // The layout guessed for it is not reported as the card's.
    std::ifstream in(dest / "My Recovered Mobile Device" / "report.xml");
    const std::string report((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(report.find("<tq:layout"), std::string::npos) << report;
    EXPECT_EQ(report.find("<ftype_str>"), std::string::npos) << report;
}

// Files that are not whole (a sector that cannot be read, clusters that end
// before the size) are said once each, with a hostile name escaped; the
// summary does not count them as saved, the report marks them, the run fails.
TEST_F(RecoverDamagedCardTest, FilesThatAreNotWholeAreSaidCountedAndFailTheRun) {
    FatImageBuilder card(FatImageOptions::Fat16(64));
    card.AddFile(card.Root(), "WHOLE.JPG", testcommon::PatternBytes(5000, 1));
    const auto bad = card.AddFile(card.Root(), "BAD.JPG", testcommon::PatternBytes(42000, 2));
    testcommon::FileOptions longer;
    longer.sizeOverride = 100000;
    longer.shortName = "RED~1   JPG";
    card.AddFile(card.Root(), "\x1b]0;owned\x07\x1b[31mRED.JPG", testcommon::PatternBytes(20000, 3), longer);
    auto volume = card.Volume();
    volume->failingSectors = {card.ClusterSector(bad.clusters[3]) + 1};
    const char letter = platform::AttachVolume(volume, "card with a bad sector");
    const fs::path dest = dir_ / "out";
    const CliRun run = Cli({"recover", "--turbo-only", "--drive", std::string(1, letter), "--dest", dest.string()});
    EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
    EXPECT_NE(run.text.find("1 of 3 files saved, 2 incomplete"), std::string::npos) << run.text;
    EXPECT_EQ(Count(run.text, "Incomplete: BAD.JPG: 512 bytes could not be read"), 1u) << run.text;
    EXPECT_EQ(Count(run.text, "Incomplete: \\x1B]0;owned\\x07\\x1B[31mRED.JPG: its clusters"), 1u) << run.text;
    EXPECT_EQ(run.text.find('\x1b'), std::string::npos);
    std::ifstream in(dest / "My Recovered Mobile Device" / "report.xml");
    const std::string report((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(Count(report, "complete=\"0\""), 2u) << report;
    EXPECT_EQ(Count(report, "unreadable=\"512\""), 1u) << report;
    EXPECT_NE(report.find("incomplete=\"2\""), std::string::npos) << report;
}

// A card reader whose card may not be opened (as without permission).
class AccessDeniedVolume : public platform::VolumeBackend {
public:
    std::uint64_t Size() const override { return 64ull << 20; }
    std::uint32_t BytesPerSector() const override { return 512; }
    std::int64_t Read(std::uint64_t, void*, std::uint32_t, DWORD* error) override {
        *error = ERROR_ACCESS_DENIED;
        return -1;
    }
    std::int64_t Write(std::uint64_t, const void*, std::uint32_t, DWORD* error) override {
        *error = ERROR_ACCESS_DENIED;
        return -1;
    }
    bool BeginWrite(DWORD* error) override {
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
    void EndWrite() override {}
    bool BeginRead(DWORD* error) override {
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
};

TEST_F(RecoverDamagedCardTest, ACardThatCannotBeOpenedIsOneMessageAndAFailureInBothStages) {
    for (const char* stage : {"--turbo-only", "--deep-only"}) {
        const char letter = platform::AttachVolume(std::make_shared<AccessDeniedVolume>(), "locked card");
        const CliRun run = Cli({"--yes", "recover", stage, "--drive", std::string(1, letter), "--dest", (dir_ / "out").string()});
        EXPECT_EQ(run.status, cli::ExitFailure) << stage << "\n" << run.text;
        EXPECT_EQ(Count(run.text, "5: access denied"), 1u) << stage << "\n" << run.text;
        EXPECT_NE(run.text.find(std::string("drive ") + letter + ":"), std::string::npos) << run.text;
        EXPECT_EQ(run.text.find("completed"), std::string::npos) << run.text;
        platform::ResetDrives();
    }
}

TEST_F(RecoverDamagedCardTest, AFullDestinationCountsEveryFileNotWritten) {
    const fs::path small = dir_ / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
    FatImageBuilder card(FatImageOptions::Fat16(64));
    for (int i = 1; i <= 20; ++i)
        card.AddFile(card.Root(), "DSC" + std::to_string(10000 + i) + ".JPG", testcommon::PatternBytes(150000, i));
    const fs::path image = dir_ / "card.img";
    card.WriteFile(image.string());
    const CliRun run = Cli({"--attach", image.string(), "recover", "--turbo-only", "--dest", small.string()});
    const std::size_t saved = FilesIn(small / "My Recovered Mobile Device" / "Turbo Scan");
    ::umount(small.c_str());
    EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
    ASSERT_LT(saved, 20u);
    const std::string summary = std::to_string(20 - saved) + " could not be written: no space left on the destination";
    EXPECT_NE(run.text.find(summary), std::string::npos) << run.text;
    EXPECT_EQ(Count(run.text, "Tranquo: "), 20 - saved) << run.text;  // one message per file
    EXPECT_EQ(run.text.find("completed"), std::string::npos) << run.text;
}

// A deep scan that could carve a photo only up to an unreadable sector has
// not succeeded: exit 1, and the report says so.
TEST_F(RecoverDamagedCardTest, FilesCutByUnreadableSectorsAreCompletedWithErrors) {
    const fs::path image = Card("card.img", 0, {});
    std::ifstream in(image, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::size_t photo = 512;
    while (photo < bytes.size() && !(bytes[photo] == 0xFF && bytes[photo + 1] == 0xD8)) photo += 512;
    ASSERT_LT(photo, bytes.size());
    auto volume = std::make_shared<wizardtest::MemoryVolume>(bytes, 512);
    volume->failingSectors = {photo / 512 + 2};
    const char letter = platform::AttachVolume(volume, "card with a bad sector");
    const fs::path dest = dir_ / "out";
    const CliRun run = Cli({"--yes", "recover", "--deep-only", "--drive", std::string(1, letter), "--dest", dest.string()});
    EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
    EXPECT_NE(run.text.find("Deep scan completed with errors"), std::string::npos) << run.text;
    EXPECT_NE(run.text.find("1 incomplete"), std::string::npos) << run.text;
    std::ifstream report(dest / "My Recovered Mobile Device" / "report.xml");
    const std::string xml((std::istreambuf_iterator<char>(report)), {});
    EXPECT_NE(xml.find("state=\"completed with errors\""), std::string::npos) << xml;
}

// Runs the program itself, so that a hang ends in the timeout.
int CliProcess(const std::string& arguments, const fs::path& log, const std::string& environment = "") {
    const std::string command = environment + " timeout 20 '" + support::ProgramFolder() + "/tranquo-cli' " + arguments +
                                " >'" + log.string() + "' 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RecoverDamagedCardTest, AFifoAsImageOrAsDatabaseIsRefusedAtOnce) {
    const fs::path fifo = dir_ / "card.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path log = dir_ / "log.txt";
    auto logText = [&log] {
        std::ifstream in(log);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    EXPECT_EQ(CliProcess("--attach '" + fifo.string() + "' drives", log), 1);
    EXPECT_NE(logText().find("FIFO"), std::string::npos) << logText();

    // A program folder whose database is a FIFO.
    const fs::path program = dir_ / "program";
    fs::create_directories(program);
    for (const char* file : {"libTyphex.so", "stddirs.lis", "stdfiles.lis"})
        fs::copy_file(support::ProgramFolder() + "/" + file, program / file);
    ASSERT_EQ(::mkfifo((program / "settings.zq4").c_str(), 0600), 0);
    const fs::path image = Card("card.img", 0, {});
    EXPECT_EQ(CliProcess("--attach '" + image.string() + "' recover --turbo-only --dest '" + (dir_ / "out").string() + "'",
                         log, "TRANQUO_PROGRAM_DIR='" + program.string() + "'"),
              1)  // not the timeout's 124
        << logText();
    EXPECT_NE(logText().find("is not a file"), std::string::npos) << logText();
}

} // namespace
