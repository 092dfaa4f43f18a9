// A phone's card as a user brings it: films, sounds and pictures made by
// ffmpeg, copied with mtools onto a card made by mkfs.fat, then
// quick-formatted. tranquo-cli's deep scan must give every file back byte
// for byte, with old bytes between the files or without.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "support/ProgramFolder.h"
#include "tests/common/ShellTools.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
using testcommon::ReadAll;
using testcommon::Shell;

constexpr const char* Film = "-f lavfi -i testsrc=duration=2:size=160x120:rate=25 "
                             "-f lavfi -i sine=frequency=440:duration=2 -shortest ";
constexpr const char* Tone = "-f lavfi -i sine=frequency=440:duration=2 ";
constexpr const char* Picture = "-f lavfi -i testsrc=size=160x120 ";

struct Sample {
    const char* name;
    const char* input;
    const char* arguments;
};
const Sample Samples[] = {
    {"film.mp4", Film, "-c:v libx264 -c:a aac"},
    {"film.mov", Film, "-c:v libx264 -c:a aac"},
    {"film.3gp", Film, "-c:v h263 -s 176x144 -c:a aac -ar 8000 -ac 1"},
    {"film.avi", Film, "-c:v mpeg4 -c:a libmp3lame"},
    {"film.mpg", Film, "-c:v mpeg2video -c:a mp2 -f vob"},
    {"sound.wav", Tone, "-c:a pcm_s16le"},
    {"sound.mp3", Tone, "-c:a libmp3lame"},
    {"sound.ogg", Tone, "-c:a libvorbis"},
    {"pic.jpg", Picture, "-frames:v 1"},
    {"pic.png", Picture, "-frames:v 1"},
    {"pic.gif", Picture, "-frames:v 3"},
};

class RecoverMediaCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Shell("command -v ffmpeg && command -v mkfs.fat && command -v mcopy") != 0)
            GTEST_SKIP() << "ffmpeg, mkfs.fat or mtools missing (scripts/setup installs them)";
        dir_ = fs::temp_directory_path() / ("tranquo-media-card-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "media");
        for (const Sample& sample : Samples) {
            const fs::path path = dir_ / "media" / sample.name;
            const std::string command = std::string("ffmpeg -nostdin -loglevel error -y ") + sample.input +
                                        sample.arguments + " '" + path.string() + "'";
            ASSERT_EQ(Shell(command), 0) << command;
            media_.push_back(ReadAll(path));
        }
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Copies the media onto a new 16 MiB card (with a few sectors of random
    // bytes before each when junk is set), then formats it again.
    fs::path MakeCard(bool junk) {
        const fs::path image = dir_ / (junk ? "junk.img" : "card.img");
        EXPECT_EQ(Shell("mkfs.fat -C '" + image.string() + "' 16384"), 0);
        std::mt19937 random(7);
        for (std::size_t i = 0; i < std::size(Samples); ++i) {
            if (junk) {
                Bytes noise(1536 * (i % 4 + 1) + 77);
                std::generate(noise.begin(), noise.end(), [&] { return static_cast<std::uint8_t>(random()); });
                const fs::path file = dir_ / "noise.bin";
                std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(noise.data()),
                                                            static_cast<std::streamsize>(noise.size()));
                EXPECT_EQ(Shell("mcopy -i '" + image.string() + "' '" + file.string() + "' ::noise" +
                                std::to_string(i) + ".bin"),
                          0);
            }
            EXPECT_EQ(Shell("mcopy -i '" + image.string() + "' '" + (dir_ / "media" / Samples[i].name).string() +
                            "' ::"),
                      0);
        }
        EXPECT_EQ(Shell("mkfs.fat '" + image.string() + "'"), 0);
        return image;
    }

    // The deep scan of the card through tranquo-cli: its carved files in
    // card order.
    std::vector<Bytes> DeepScan(const fs::path& image, const fs::path& dest) {
        const std::string command = "TRANQUO_REGISTRY='" + (dir_ / "registry").string() + "' '" +
                                    support::ProgramFolder() + "/tranquo-cli' --attach '" + image.string() +
                                    "' -q recover --deep-only --dest '" + dest.string() + "'";
        EXPECT_EQ(Shell(command), 0) << command;
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(dest / "My Recovered Mobile Device" / "Deep Scan"))
            names.push_back(entry.path());
        std::sort(names.begin(), names.end());
        std::vector<Bytes> files;
        for (const auto& name : names) files.push_back(ReadAll(name));
        return files;
    }

    fs::path dir_;
    std::vector<Bytes> media_;
};

TEST_F(RecoverMediaCardTest, EveryFileOfAQuickFormattedCardComesBackByteExact) {
    for (const bool junk : {false, true}) {
        SCOPED_TRACE(junk ? "random bytes between the files" : "files one after the other");
        const fs::path dest = dir_ / (junk ? "junk-dest" : "dest");
        const std::vector<Bytes> carved = DeepScan(MakeCard(junk), dest);
        // One file each: none split (an MPEG's packs), none run on.
        ASSERT_EQ(carved.size(), media_.size());
        for (std::size_t i = 0; i < media_.size(); ++i) EXPECT_TRUE(carved[i] == media_[i]) << Samples[i].name;
        const Bytes report = ReadAll(dest / "My Recovered Mobile Device" / "report.xml");
        const std::string text(report.begin(), report.end());
        std::size_t structural = 0;
        for (std::size_t at = 0; (at = text.find("end=\"format structure\"", at)) != std::string::npos; ++at)
            ++structural;
        EXPECT_EQ(structural, media_.size()) << text;
    }
}

} // namespace
