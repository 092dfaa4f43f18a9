#include "tests/common/JpegPhoto.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace testcommon {

std::vector<std::uint8_t> EncodeJpeg(const std::vector<std::uint8_t>& rgb, int width, int height, int quality) {
    if (width <= 0 || height <= 0 || rgb.size() < static_cast<std::size_t>(width) * height * 3)
        throw std::invalid_argument("EncodeJpeg: fewer pixels than width x height");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg takes rows as non-const pointers but only reads them.
        auto* row = const_cast<JSAMPLE*>(&rgb[static_cast<std::size_t>(cinfo.next_scanline) * width * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> jpeg(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return jpeg;
}

std::vector<std::uint8_t> MakeJpegPhoto(int width, int height, std::uint32_t seed, int quality) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t x = seed * 2654435761u + 12345u;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    const double sunX = width * (0.2 + (next() % 60) / 100.0);
    const double sunY = height * (0.15 + (next() % 25) / 100.0);
    const double horizon = height * (0.55 + (next() % 20) / 100.0);
    const int hue = static_cast<int>(next() % 80);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            double r, g, b;
            if (row < horizon) {
                const double t = row / horizon;
                r = 90 + hue + 120 * t;
                g = 120 + 80 * t;
                b = 230 - 60 * t;
            } else {
                const double t = (row - horizon) / (height - horizon);
                const double wave = 12 * std::sin(col * 0.09 + row * 0.35);
                r = 20 + 30 * t + wave;
                g = 70 + 40 * t + wave;
                b = 140 - 30 * t + wave;
            }
            const double d = std::hypot(col - sunX, row - sunY);
            if (d < height * 0.08) {
                r = 255;
                g = 230;
                b = 120;
            }
            const double noise = static_cast<int>(next() % 9) - 4;
            auto* p = &pixels[(static_cast<std::size_t>(row) * width + col) * 3];
            p[0] = static_cast<std::uint8_t>(std::clamp(r + noise, 0.0, 255.0));
            p[1] = static_cast<std::uint8_t>(std::clamp(g + noise, 0.0, 255.0));
            p[2] = static_cast<std::uint8_t>(std::clamp(b + noise, 0.0, 255.0));
        }
    }

    return EncodeJpeg(pixels, width, height, quality);
}

} // namespace testcommon
