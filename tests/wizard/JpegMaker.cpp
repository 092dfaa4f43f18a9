#include "JpegMaker.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include <jpeglib.h>

namespace wizardtest {

std::vector<std::uint8_t> MakeJpeg(int width, int height, std::uint32_t seed, int quality) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);

    std::mt19937 random(seed);
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    const int phase = static_cast<int>(seed % 97);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            const int noise = static_cast<int>(random() % 24);
            row[x * 3 + 0] = static_cast<unsigned char>((x * 255 / width + phase + noise) & 0xFF);
            row[x * 3 + 1] = static_cast<unsigned char>((y * 255 / height + noise) & 0xFF);
            row[x * 3 + 2] = static_cast<unsigned char>(((x + y) * 2 + phase * 3 + noise) & 0xFF);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<std::uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&info);
    std::free(out);
    return bytes;
}

} // namespace wizardtest
