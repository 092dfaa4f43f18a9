// The format walkers on real files made at test time by ffmpeg (films and
// sounds in every container the deep scan knows, PNG, GIF, BMP, TIFF) and by
// libjpeg: each file, followed by another or by stray bytes, ends exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "JpegMaker.h"
#include "WalkerBytes.h"

namespace {

namespace fs = std::filesystem;
using namespace wizardtest;

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A file name and how ffmpeg makes it from a test picture and a tone.
struct Sample {
    const char* name;
    const char* arguments;
};
constexpr const char* Film = "-f lavfi -i testsrc=duration=1:size=160x120:rate=25 "
                             "-f lavfi -i sine=frequency=440:duration=1 -shortest ";
constexpr const char* Tone = "-f lavfi -i sine=frequency=440:duration=1 ";
constexpr const char* Picture = "-f lavfi -i testsrc=size=160x120 ";
const Sample Samples[] = {
    {"film.mp4", "F -c:v libx264 -c:a aac"},
    {"film.mov", "F -c:v libx264 -c:a aac"},
    {"film.3gp", "F -c:v h263 -s 176x144 -c:a aac -ar 8000 -ac 1"},
    {"sound.m4a", "T -c:a aac"},
    {"film.avi", "F -c:v mpeg4 -c:a libmp3lame"},
    {"sound.wav", "T -c:a pcm_s16le"},
    {"sound.aiff", "T -c:a pcm_s16be"},
    {"sound.mp3", "T -c:a libmp3lame -write_id3v1 1"},
    {"bare.mp3", "T -c:a libmp3lame -id3v2_version 0"},
    {"film.mpg", "F -c:v mpeg2video -c:a mp2 -f vob"},
    {"film1.mpg", "F -c:v mpeg1video -c:a mp2 -f mpeg"},
    {"film.wmv", "F -c:v wmv2 -c:a wmav2"},
    {"sound.wma", "T -c:a wmav2"},
    {"sound.ogg", "T -c:a libvorbis"},
    {"sound.opus", "T -c:a libopus"},
    {"film.mkv", "F -c:v mpeg4 -c:a libmp3lame"},
    {"film.webm", "F -c:v libvpx -c:a libvorbis"},
    {"picture.png", "P -frames:v 1"},
    {"picture.gif", "P -frames:v 3"},
    {"picture.bmp", "P -frames:v 1"},
    {"picture.tif", "P -frames:v 1"},
    {"picture.jpg", "P -frames:v 1"},
};

std::string Command(const Sample& sample, const fs::path& folder) {
    const std::string arguments = sample.arguments;
    const char* input = arguments[0] == 'F' ? Film : arguments[0] == 'T' ? Tone : Picture;
    return "ffmpeg -nostdin -loglevel error -y " + std::string(input) + arguments.substr(2) + " '" +
           (folder / sample.name).string() + "'";
}

TEST(FormatWalkerMedia, EveryFileMadeByFfmpegOrLibjpegEndsExactly) {
    if (Shell("command -v ffmpeg") != 0) GTEST_SKIP() << "ffmpeg missing (scripts/setup installs it)";
    const fs::path folder = fs::temp_directory_path() / ("walker-media-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::vector<std::pair<std::string, Bytes>> files;
    for (const Sample& sample : Samples) {
        ASSERT_EQ(Shell(Command(sample, folder)), 0) << Command(sample, folder);
        files.emplace_back(sample.name, ReadFile(folder / sample.name));
    }
    files.emplace_back("libjpeg.jpg", MakeJpeg(320, 240, 5));
    fs::remove_all(folder);

    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& [name, file] = files[i];
        const auto size = static_cast<std::int64_t>(file.size());
        // Back to back with the next file, and before stray bytes.
        const Bytes& next = files[(i + 1) % files.size()].second;
        EXPECT_EQ(EndOf(Joined(file, next)), size) << name;
        EXPECT_EQ(EndOf(Joined(file, Junk(4096)), 4096), size) << name;
        EXPECT_EQ(EndOf(file, 4096), size) << name; // the last file on the drive
    }
}

} // namespace
