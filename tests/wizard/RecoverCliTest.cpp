// tranquo-cli recover with the deep scan, as a user runs it: a card image
// attached, the program started as its own process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

#include "JpegMaker.h"
#include "support/ProgramFolder.h"
#include "tests/common/FatImageBuilder.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool StartsWith(const std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& prefix) {
    return file.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), file.begin());
}

class RecoverCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tranquo-recover-cli-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // A card whose two photos were deleted by the camera (chains cleared)
        // and one that is still there.
        testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(32));
        auto dcim = card.AddFolder(card.Root(), "DCIM");
        kept_ = wizardtest::MakeJpeg(320, 240, 11);
        lost_ = wizardtest::MakeJpeg(400, 300, 12);
        lost2_ = wizardtest::MakeJpeg(256, 256, 13);
        card.AddFile(dcim, "DSC00001.JPG", kept_);
        card.Delete(card.AddFile(dcim, "DSC00002.JPG", lost_), true);
        card.Delete(card.AddFile(dcim, "DSC00003.JPG", lost2_), true);
        image_ = dir_ / "card.img";
        card.WriteFile(image_.string());
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs tranquo-cli with a private registry; returns its exit status.
    int Cli(const std::string& arguments) {
        const std::string command = "TRANQUO_REGISTRY='" + (dir_ / "registry").string() + "' '" +
                                    support::ProgramFolder() + "/tranquo-cli' --attach '" + image_.string() + "' " +
                                    arguments + " </dev/null >'" + (dir_ / "out.txt").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() const {
        const auto bytes = ReadAll(dir_ / "out.txt");
        return std::string(bytes.begin(), bytes.end());
    }
    std::vector<fs::path> Carved(const fs::path& dest) const {
        std::vector<fs::path> files;
        const auto folder = dest / "My Recovered Mobile Device" / "Deep Scan";
        if (fs::exists(folder))
            for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }

    fs::path dir_, image_;
    std::vector<std::uint8_t> kept_, lost_, lost2_;
};

// The turbo scan saved all three whole: the deep scan finds them again and
// keeps no second copy.
TEST_F(RecoverCliTest, WithYesTheDeepScanFollowsTheTurboScanAndKeepsNoSecondCopy) {
    const auto dest = dir_ / "dest";
    ASSERT_EQ(Cli("--yes recover --dest '" + dest.string() + "'"), 0) << Output();
    EXPECT_TRUE(Carved(dest).empty()) << Output();
    EXPECT_EQ(fs::file_size(dest / "My Recovered Mobile Device" / "Turbo Scan" / "DSC00002.JPG"), lost_.size());
    EXPECT_NE(Output().find("Deep scan completed: 0 files carved, 0 bytes written, 3 already saved by the turbo scan"),
              std::string::npos)
        << Output();
}

TEST_F(RecoverCliTest, WithoutATerminalOrYesOnlyTheTurboScanRuns) {
    const auto dest = dir_ / "dest";
    ASSERT_EQ(Cli("recover --dest '" + dest.string() + "'"), 0) << Output();
    EXPECT_TRUE(Carved(dest).empty());
}

// The folder's own entry lies in the FAT16 root, before the data area: the
// folder is named after its first cluster, the photos after their entries.
TEST_F(RecoverCliTest, DeepOnlyGivesThePhotosTheirNames) {
    const auto dest = dir_ / "dest";
    ASSERT_EQ(Cli("-q recover --deep-only --prefix card_ --retries 3 --dest '" + dest.string() + "'"), 0) << Output();
    const auto folders = Carved(dest);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].filename().string().rfind("Folder ", 0), 0u);
    EXPECT_EQ(ReadAll(folders[0] / "DSC00001.JPG"), kept_);
    EXPECT_EQ(ReadAll(folders[0] / "DSC00002.JPG"), lost_);
    EXPECT_EQ(ReadAll(folders[0] / "DSC00003.JPG"), lost2_);
    EXPECT_FALSE(fs::exists(dest / "My Recovered Mobile Device" / "Turbo Scan"));
}

TEST_F(RecoverCliTest, BadOptionsAreUsageErrors) {
    EXPECT_EQ(Cli("recover --retries 0"), 2);
    EXPECT_EQ(Cli("recover --prefix ../x"), 2);
    EXPECT_EQ(Cli("recover --prefix"), 2);
}

} // namespace
