// Real, decodable JPEG photos for sample cards, made with libjpeg: a sky,
// a sea and a sun whose colours and place depend on the seed.
#pragma once

#include <cstdint>
#include <vector>

namespace testcommon {

std::vector<std::uint8_t> MakeJpegPhoto(int width, int height, std::uint32_t seed, int quality = 88);

} // namespace testcommon
