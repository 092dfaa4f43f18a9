// Real, decodable JPEG photos for sample cards, made with libjpeg: a sky,
// a sea and a sun whose colours and place depend on the seed.
#pragma once

#include <cstdint>
#include <vector>

namespace testcommon {

// The baseline JPEG (libjpeg's defaults at the given quality) of width x
// height RGB pixels, three bytes each, row after row from the top.
std::vector<std::uint8_t> EncodeJpeg(const std::vector<std::uint8_t>& rgb, int width, int height, int quality);

std::vector<std::uint8_t> MakeJpegPhoto(int width, int height, std::uint32_t seed, int quality = 88);

} // namespace testcommon
