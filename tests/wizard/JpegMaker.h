// Real, decodable JPEG photos for the carving tests, made with libjpeg.
#pragma once

#include <cstdint>
#include <vector>

namespace wizardtest {

// A baseline JPEG of width x height pixels whose picture (and so whose
// bytes) depends on seed: smooth colour bands with noise, like a photo.
std::vector<std::uint8_t> MakeJpeg(int width, int height, std::uint32_t seed, int quality = 85);

} // namespace wizardtest
