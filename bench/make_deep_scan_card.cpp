// Writes the deep-scan benchmark's card image: a FAT32 card (formatted
// beforehand with mkfs.fat) whose data area is densely packed with real
// JPEG photos, each starting on a 4 KiB boundary, with random bytes in the
// slack after each photo, as on a used card after a quick format. Writes a
// manifest beside it: one line per photo, "offset length photo-file".
//
//   make-deep-scan-card IMAGE FIRST_DATA_BYTE PHOTO_DIR
//
// The photos are made once in PHOTO_DIR (photo-NN.jpg, libjpeg, 1.5 to 5
// megapixels) and reused in turn until the image is full.
//
//   make-deep-scan-card verify IMAGE FOLDER
//
// Counts the photos of the manifest that were recovered complete: a file
// below FOLDER that begins with the photo's bytes. Each recovered file
// accounts for one photo at most. Prints "complete N of M".
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/common/JpegPhoto.h"

namespace {

constexpr int PhotoCount = 24;
constexpr std::uint64_t Alignment = 4096;

std::vector<std::uint8_t> EncodePhoto(int width, int height, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        auto* row = &pixels[static_cast<std::size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x) {
            // Smooth light with fine grain, roughly what a camera sees.
            const int grain = static_cast<int>(random() % 40);
            row[x * 3 + 0] = static_cast<unsigned char>((x / 7 + y / 11 + static_cast<int>(seed) * 13 + grain) & 0xFF);
            row[x * 3 + 1] = static_cast<unsigned char>((y / 5 + grain * 2) & 0xFF);
            row[x * 3 + 2] = static_cast<unsigned char>(((x ^ y) / 9 + grain) & 0xFF);
        }
    }
    return testcommon::EncodeJpeg(pixels, width, height, 80 + static_cast<int>(seed % 15));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int Verify(const std::string& imagePath, const std::string& folder) {
    // How many photos of each kind the image holds.
    std::map<std::string, long> wanted;
    long total = 0;
    {
        std::ifstream manifest(imagePath + ".manifest");
        std::uint64_t offset = 0, length = 0;
        std::string name;
        while (manifest >> offset >> length >> name) {
            ++wanted[name];
            ++total;
        }
    }
    std::map<std::string, std::vector<std::uint8_t>> photos;
    for (const auto& [name, count] : wanted) photos[name] = ReadFile(name);

    long complete = 0;
    constexpr std::size_t Probe = 65536; // photos differ well before this
    std::vector<std::uint8_t> head(Probe), whole;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(Probe));
        const auto got = static_cast<std::size_t>(in.gcount());
        for (auto& [name, photo] : photos) {
            if (wanted[name] == 0 || got < std::min(Probe, photo.size())) continue;
            if (!std::equal(photo.begin(), photo.begin() + static_cast<long>(std::min(Probe, photo.size())), head.begin())) continue;
            whole.resize(photo.size());
            in.clear();
            in.seekg(0);
            in.read(reinterpret_cast<char*>(whole.data()), static_cast<std::streamsize>(whole.size()));
            if (in.gcount() == static_cast<std::streamsize>(whole.size()) && whole == photo) {
                --wanted[name];
                ++complete;
            }
            break;
        }
    }
    std::printf("complete %ld of %ld\n", complete, total);
    return complete == total ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "verify") return Verify(argv[2], argv[3]);
    if (argc != 4) {
        std::fprintf(stderr, "usage: make-deep-scan-card IMAGE FIRST_DATA_BYTE PHOTO_DIR\n");
        return 2;
    }
    const std::string imagePath = argv[1];
    const std::uint64_t firstDataByte = std::strtoull(argv[2], nullptr, 10);
    const std::string photoDir = argv[3];
    std::filesystem::create_directories(photoDir);

    std::vector<std::vector<std::uint8_t>> photos;
    std::vector<std::string> photoNames;
    for (int i = 0; i < PhotoCount; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s/photo-%02d.jpg", photoDir.c_str(), i);
        if (!std::filesystem::exists(name)) {
            const int width = 1600 + (i % 6) * 240;
            const int height = 1200 + (i % 4) * 160;
            const auto bytes = EncodePhoto(width, height, 1000u + static_cast<std::uint32_t>(i));
            std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                         static_cast<std::streamsize>(bytes.size()));
        }
        photos.push_back(ReadFile(name));
        photoNames.push_back(name);
    }

    std::fstream image(imagePath, std::ios::in | std::ios::out | std::ios::binary);
    if (!image) {
        std::fprintf(stderr, "make-deep-scan-card: cannot open %s\n", imagePath.c_str());
        return 1;
    }
    image.seekg(0, std::ios::end);
    const std::uint64_t imageSize = static_cast<std::uint64_t>(image.tellg());
    std::ofstream manifest(imagePath + ".manifest");
    std::mt19937_64 random(42);
    std::uint64_t position = (firstDataByte + Alignment - 1) / Alignment * Alignment;
    std::vector<std::uint8_t> slack;
    std::size_t placed = 0;
    for (std::size_t i = 0;; ++i) {
        const auto& photo = photos[i % photos.size()];
        const std::uint64_t end = position + photo.size();
        const std::uint64_t next = (end + Alignment - 1) / Alignment * Alignment;
        if (next > imageSize) break;
        slack.resize(next - end);
        for (auto& b : slack) b = static_cast<std::uint8_t>(random());
        image.seekp(static_cast<std::streamoff>(position));
        image.write(reinterpret_cast<const char*>(photo.data()), static_cast<std::streamsize>(photo.size()));
        image.write(reinterpret_cast<const char*>(slack.data()), static_cast<std::streamsize>(slack.size()));
        manifest << position << ' ' << photo.size() << ' ' << photoNames[i % photos.size()] << '\n';
        position = next;
        ++placed;
    }
    std::printf("%zu photos placed, %llu bytes of %llu used\n", placed,
                static_cast<unsigned long long>(position - firstDataByte), static_cast<unsigned long long>(imageSize));
    return 0;
}
