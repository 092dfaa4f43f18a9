// Real, decodable JPEG photos for the carving tests, made with libjpeg.
#pragma once

#include <cstdint>
#include <vector>

namespace wizardtest {

// A baseline JPEG of width x height pixels whose picture (and so whose
// bytes) depends on seed: smooth colour bands with noise, like a photo.
std::vector<std::uint8_t> MakeJpeg(int width, int height, std::uint32_t seed, int quality = 85);

} // namespace wizardtest

namespace wizardtest {

// A photo as cameras write it: the picture's JPEG with an EXIF segment
// (APP1) right after its start that holds a small JPEG thumbnail and is
// padded with zeros to app1Size bytes, and, when preview is not empty, a
// second segment (APP2) of app2Size bytes holding that larger preview, also
// zero-padded. Each embedded picture ends in FF D9 followed by zeros.
std::vector<std::uint8_t> MakeCameraJpeg(const std::vector<std::uint8_t>& picture,
                                         const std::vector<std::uint8_t>& thumbnail, std::size_t app1Size,
                                         const std::vector<std::uint8_t>& preview = {}, std::size_t app2Size = 0);

} // namespace wizardtest
