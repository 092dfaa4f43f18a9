#include "JpegMaker.h"

#include <cstddef>
#include <random>

#include "tests/common/JpegPhoto.h"

namespace wizardtest {

std::vector<std::uint8_t> MakeJpeg(int width, int height, std::uint32_t seed, int quality) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    const int phase = static_cast<int>(seed % 97);
    for (int y = 0; y < height; ++y) {
        auto* row = &pixels[static_cast<std::size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x) {
            const int noise = static_cast<int>(random() % 24);
            row[x * 3 + 0] = static_cast<unsigned char>((x * 255 / width + phase + noise) & 0xFF);
            row[x * 3 + 1] = static_cast<unsigned char>((y * 255 / height + noise) & 0xFF);
            row[x * 3 + 2] = static_cast<unsigned char>(((x + y) * 2 + phase * 3 + noise) & 0xFF);
        }
    }
    return testcommon::EncodeJpeg(pixels, width, height, quality);
}

} // namespace wizardtest

namespace wizardtest {

namespace {

// A marker segment of size bytes in all (marker and length included):
// a short tag, the embedded picture, zeros.
void AppendSegment(std::vector<std::uint8_t>& out, std::uint8_t marker, const char* tag,
                   const std::vector<std::uint8_t>& picture, std::size_t size) {
    const std::size_t length = size - 2; // the length counts itself, not the marker
    out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    const std::size_t begin = out.size();
    for (const char* c = tag; *c; ++c) out.push_back(static_cast<std::uint8_t>(*c));
    out.insert(out.end(), {0, 0});
    out.insert(out.end(), picture.begin(), picture.end());
    out.resize(begin + length - 2, 0);
}

} // namespace

std::vector<std::uint8_t> MakeCameraJpeg(const std::vector<std::uint8_t>& picture,
                                         const std::vector<std::uint8_t>& thumbnail, std::size_t app1Size,
                                         const std::vector<std::uint8_t>& preview, std::size_t app2Size) {
    std::vector<std::uint8_t> out{0xFF, 0xD8};
    AppendSegment(out, 0xE1, "Exif", thumbnail, app1Size);
    if (!preview.empty()) AppendSegment(out, 0xE2, "PREVIEW", preview, app2Size);
    out.insert(out.end(), picture.begin() + 2, picture.end()); // after the picture's own FF D8
    return out;
}

} // namespace wizardtest
