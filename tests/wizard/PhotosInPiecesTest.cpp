// Photos in pieces: a card made by mkfs.fat and filled by mtools, every
// second file deleted, photos written into the gaps (so each lies in two or
// three pieces around noise, zeros and other photos that stayed), then the
// photos deleted or the card quick-formatted. tranquo-cli's deep scan must
// put every photo back together byte for byte, and say so of none that it
// could not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "JpegMaker.h"
#include "support/ProgramFolder.h"
#include "tests/common/ShellTools.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
using testcommon::Quote;
using testcommon::ReadAll;
using testcommon::Shell;

void WriteAll(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class PhotosInPiecesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Shell("command -v mkfs.fat && command -v mcopy") != 0)
            GTEST_SKIP() << "mkfs.fat or mtools missing (scripts/setup installs them)";
        dir_ = fs::temp_directory_path() / ("tranquo-photo-pieces-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "local");
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }
    void TearDown() override { fs::remove_all(dir_); }

    bool Copy(const fs::path& image, const std::string& name, const Bytes& bytes) {
        WriteAll(dir_ / "local" / name, bytes);
        return Shell("mcopy -i " + Quote(image) + " " + Quote(dir_ / "local" / name) + " ::/" + name) == 0;
    }

    // A full card with every second file deleted; the files between the
    // gaps are noise, zeros and photos, in turn.
    fs::path MakeGappedCard(const std::string& fatOptions) {
        const fs::path image = dir_ / "card.img";
        EXPECT_EQ(Shell("truncate -s 12M " + Quote(image)), 0);
        EXPECT_EQ(Shell("mkfs.fat " + fatOptions + " -n CARD " + Quote(image)), 0);
        std::mt19937 random(5);
        int files = 0;
        for (; files < 1000; ++files) {
            const std::size_t size = 40000 + static_cast<std::size_t>(files % 3) * 12000;
            Bytes bytes(size, 0);
            if (files % 6 == 1) {
                bytes = wizardtest::MakeJpeg(200, 150, 900u + static_cast<std::uint32_t>(files));
            } else if (files % 6 != 3) {
                std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
            }
            if (!Copy(image, "FILL" + std::to_string(files) + ".BIN", bytes)) break;
        }
        for (int i = 0; i < files; i += 2)
            EXPECT_EQ(Shell("mdel -i " + Quote(image) + " ::/FILL" + std::to_string(i) + ".BIN"), 0);
        return image;
    }

    // Photos no larger than the smallest gap written into the gaps: each
    // lies in two or three pieces.
    void WritePhotos(const fs::path& image, int count) {
        for (int i = 0; i < count; ++i) {
            photos_.push_back(wizardtest::MakeJpeg(320 - 16 * (i % 3), 240, 300u + static_cast<std::uint32_t>(i), 90));
            ASSERT_LT(photos_.back().size(), 40000u);
            ASSERT_TRUE(Copy(image, "PHOTO" + std::to_string(i) + ".JPG", photos_.back()));
        }
    }

    // The deep scan through tranquo-cli: its exit status; the carved files
    // and the report are read from dest.
    int DeepScan(const fs::path& image, const fs::path& dest) {
        const std::string command = "TRANQUO_REGISTRY=" + Quote(dir_ / "registry") + " " +
                                    Quote(support::ProgramFolder() + "/tranquo-cli") + " --attach " + Quote(image) +
                                    " -q recover --deep-only --dest " + Quote(dest);
        const int status = Shell(command);
        carved_.clear();
        for (const auto& entry : fs::directory_iterator(dest / "My Recovered Mobile Device" / "Deep Scan"))
            carved_.push_back(ReadAll(entry.path()));
        const Bytes report = ReadAll(dest / "My Recovered Mobile Device" / "report.xml");
        report_.assign(report.begin(), report.end());
        return status;
    }

    bool CarvedExactly(const Bytes& photo) const { return std::find(carved_.begin(), carved_.end(), photo) != carved_.end(); }

    static std::size_t Count(const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
        return n;
    }

    fs::path dir_;
    std::vector<Bytes> photos_;
    std::vector<Bytes> carved_;
    std::string report_;
};

TEST_F(PhotosInPiecesTest, DeletedOrQuickFormattedPhotosComeBackWhole) {
    for (const bool format : {false, true}) {
        SCOPED_TRACE(format ? "quick-formatted, 512-byte clusters" : "deleted, 2 KiB clusters");
        photos_.clear();
        const fs::path image = MakeGappedCard(format ? "-F 16 -s 1" : "-F 16 -s 4");
        WritePhotos(image, 6);
        if (format) {
            ASSERT_EQ(Shell("mkfs.fat -F 16 -s 1 " + Quote(image)), 0);
        } else {
            for (int i = 0; i < 6; ++i) ASSERT_EQ(Shell("mdel -i " + Quote(image) + " ::/PHOTO" + std::to_string(i) + ".JPG"), 0);
        }
        EXPECT_EQ(DeepScan(image, dir_ / (format ? "formatted" : "deleted")), 0);
        for (std::size_t i = 0; i < photos_.size(); ++i) EXPECT_TRUE(CarvedExactly(photos_[i])) << "photo " << i;
        EXPECT_GE(Count(report_, "pieces=\""), 3u) << report_;
        EXPECT_EQ(Count(report_, " complete=\"0\""), 0u) << report_;
    }
}

// A photo whose second piece was overwritten has no continuation to find:
// it is saved as far as it is right, and the run says it is not whole.
TEST_F(PhotosInPiecesTest, APhotoWhoseRestIsGoneIsIncompleteNeverWhole) {
    const fs::path image = MakeGappedCard("-F 16 -s 4");
    WritePhotos(image, 3);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Shell("mdel -i " + Quote(image) + " ::/PHOTO" + std::to_string(i) + ".JPG"), 0);
    // Noise over the first photo's bytes from two thirds of it on: its
    // second piece, wherever the card put it.
    Bytes card = ReadAll(image);
    const Bytes& lost = photos_[0];
    const std::size_t from = lost.size() * 2 / 3;
    const auto at = std::search(card.begin(), card.end(), lost.begin() + static_cast<std::ptrdiff_t>(from),
                                lost.begin() + static_cast<std::ptrdiff_t>(from + 64));
    ASSERT_NE(at, card.end());
    std::mt19937 random(9);
    std::generate(at, at + static_cast<std::ptrdiff_t>(lost.size() - from), [&] { return static_cast<std::uint8_t>(random()); });
    WriteAll(image, card);

    EXPECT_EQ(DeepScan(image, dir_ / "dest"), 1);
    EXPECT_FALSE(CarvedExactly(lost));
    EXPECT_TRUE(CarvedExactly(photos_[1]));
    EXPECT_TRUE(CarvedExactly(photos_[2]));
    // What was saved of it is its beginning.
    const auto prefix = std::find_if(carved_.begin(), carved_.end(), [&](const Bytes& file) {
        return file.size() > 4096 && file.size() < lost.size() && std::equal(file.begin(), file.end(), lost.begin());
    });
    EXPECT_NE(prefix, carved_.end());
    EXPECT_EQ(Count(report_, " complete=\"0\""), 1u) << report_;
    EXPECT_NE(report_.find("end=\"broken off\""), std::string::npos);
    EXPECT_NE(report_.find("state=\"completed with errors\""), std::string::npos);
    EXPECT_NE(report_.find("incomplete=\"1\""), std::string::npos);
}

} // namespace
