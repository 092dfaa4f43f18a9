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
