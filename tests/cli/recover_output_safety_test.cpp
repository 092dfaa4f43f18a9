// tranquo-cli recover never writes over anything: not the card, not an
// earlier report, not an earlier run's photos; and what it could not write
// it says, with exit status 1.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Command.h"
#include "platform/drives.h"
#include "tests/common/FatImageBuilder.h"
#include "tests/common/JpegPhoto.h"

namespace {

namespace fs = std::filesystem;
using testcommon::FatImageBuilder;
using testcommon::FatImageOptions;

struct CliRun {
    int status;
    std::string text;
};

CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    testing::internal::CaptureStderr();
    const int status = cli::RunCli(args, out, err);
    const std::string boxes = testing::internal::GetCapturedStderr();
    platform::ResetDrives();
    return {status, out.str() + err.str() + boxes};
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    if (fs::exists(folder))
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool WellFormed(const fs::path& xml) {
    return std::system(("xmllint --noout '" + xml.string() + "' 2>/dev/null").c_str()) == 0;
}

class RecoverOutputSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TRANQUO_ATTACH");
        platform::ResetDrives();
        dir_ = fs::temp_directory_path() / ("tranquo-output-safety-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        platform::ResetDrives();
        fs::current_path(fs::temp_directory_path()); // the deep scan works inside its folder
        fs::remove_all(dir_);
    }
    // files photos (real JPEGs) or, with small, 1000-byte files.
    fs::path Card(int files, bool small = false) {
        FatImageBuilder card(FatImageOptions::Fat16(32));
        for (int i = 1; i <= files; ++i) {
            const std::string name = "DSC" + std::to_string(10000 + i) + ".JPG";
            card.AddFile(card.Root(), name,
                         small ? std::vector<std::uint8_t>(1000, 0x41) : testcommon::MakeJpegPhoto(160, 120, i));
        }
        const fs::path image = dir_ / "card.img";
        card.WriteFile(image.string());
        return image;
    }
    fs::path dir_;
};

TEST_F(RecoverOutputSafetyTest, TheReportsCopyGoesOnlyToANewFile) {
    const fs::path image = Card(3);
    const std::string card = Read(image);
    std::ofstream(dir_ / "old.xml") << "an earlier report";
    const fs::path dest = dir_ / "out";
    const std::pair<fs::path, std::string> refused[] = {
        {image, "is the drive being read"},
        {dir_ / "old.xml", "exists"},
        {"/dev/null", "is not a regular file"},
        {dir_ / "missing" / "r.xml", "does not exist"},
    };
    for (const auto& [target, why] : refused) {
        const CliRun run = Cli({"--attach", image.string(), "--yes", "recover", "--dest", dest.string(), "--report",
                                target.string()});
        EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
        EXPECT_NE(run.text.find(why), std::string::npos) << run.text;
        EXPECT_FALSE(fs::exists(dest / "My Recovered Mobile Device")) << run.text;
    }
    EXPECT_EQ(Read(image), card);
    EXPECT_EQ(Read(dir_ / "old.xml"), "an earlier report");

    const CliRun run = Cli({"--attach", image.string(), "--yes", "recover", "--turbo-only", "--dest", dest.string(),
                            "--report", (dir_ / "new.xml").string()});
    EXPECT_EQ(run.status, cli::ExitSuccess) << run.text;
    EXPECT_EQ(Read(dir_ / "new.xml"), Read(dest / "My Recovered Mobile Device" / "report.xml"));
}

// Two runs into one folder whose name is not UTF-8: each keeps its own files.
TEST_F(RecoverOutputSafetyTest, TwoRunsIntoOneDestinationKeepEachOthersFiles) {
    const fs::path image = Card(3);
    const fs::path dest = dir_ / "d\xff";
    const fs::path turbo = dest / "My Recovered Mobile Device" / "Turbo Scan";
    const fs::path deep = dest / "My Recovered Mobile Device" / "Deep Scan";
    // Each scan alone: after the turbo scan, the deep scan keeps no second
    // copy of what it saved.
    for (int round = 1; round <= 2; ++round) {
        for (const char* stage : {"--turbo-only", "--deep-only"}) {
            const CliRun run = Cli({"--attach", image.string(), "--yes", "recover", stage, "--dest", dest.string()});
            EXPECT_EQ(run.status, cli::ExitSuccess) << run.text;
        }
        EXPECT_EQ(Names(turbo).size(), 3u * round);
        EXPECT_EQ(Names(deep).size(), 3u * round);
    }
    EXPECT_EQ(Read(turbo / "DSC10001.JPG"), Read(turbo / "DSC10001 (2).JPG"));
    for (const fs::path& folder : {turbo, deep, turbo.parent_path()})
        for (const std::string& name : Names(folder)) EXPECT_NE(name.front(), '.') << name;
}

TEST_F(RecoverOutputSafetyTest, AReportThatCannotBeWrittenWholeIsAFailureSaidOnce) {
    const fs::path image = Card(40, true);
    const fs::path dest = dir_ / "out";
    // Files of at most 16 KiB: every photo fits, the whole report does not.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 16 * 1024;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const CliRun run = Cli({"--attach", image.string(), "--yes", "recover", "--turbo-only", "--dest", dest.string()});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
    EXPECT_EQ(Count(run.text, "could not be written whole"), 1u) << run.text;
    EXPECT_EQ(run.text.find("Report: "), std::string::npos) << run.text;
    EXPECT_TRUE(WellFormed(dest / "My Recovered Mobile Device" / "report.xml"));
    EXPECT_EQ(Names(dest / "My Recovered Mobile Device" / "Turbo Scan").size(), 40u);
}

TEST_F(RecoverOutputSafetyTest, AReadOnlyDestinationSaysSo) {
    const fs::path image = Card(1);
    const fs::path readOnly = dir_ / "ro";
    fs::create_directories(readOnly);
    if (::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a read-only tmpfs here";
    const CliRun run = Cli({"--attach", image.string(), "--yes", "recover", "--dest", readOnly.string()});
    ::umount(readOnly.c_str());
    EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
    EXPECT_NE(run.text.find("Read-only file system"), std::string::npos) << run.text;
    EXPECT_EQ(run.text.find("No such file or directory"), std::string::npos) << run.text;
}

// The card is mounted (here an ext2 image through a loop device): a
// destination inside it would overwrite what is still to be recovered.
TEST_F(RecoverOutputSafetyTest, ADestinationOnTheCardBeingReadIsRefused) {
    const fs::path image = dir_ / "card.img";
    const fs::path mounted = dir_ / "mnt";
    fs::create_directories(mounted);
    const std::string make = "truncate -s 8M '" + image.string() + "' && mkfs.ext2 -q '" + image.string() +
                             "' 2>/dev/null && mount -o loop '" + image.string() + "' '" + mounted.string() +
                             "' 2>/dev/null";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "cannot mount a loop device here";
    const CliRun run =
        Cli({"--attach", image.string(), "--yes", "recover", "--dest", (mounted / "out").string()});
    const bool written = fs::exists(mounted / "out");
    std::system(("umount '" + mounted.string() + "'").c_str());
    EXPECT_EQ(run.status, cli::ExitFailure) << run.text;
    EXPECT_NE(run.text.find("is on the drive being read"), std::string::npos) << run.text;
    EXPECT_FALSE(written);
}

} // namespace
