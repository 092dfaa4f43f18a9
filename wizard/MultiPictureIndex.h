// The Multi-Picture Format index of a JPEG (an APP2 segment "MPF"): cameras
// and phones store further pictures (a large preview, the second view of a
// stereo pair) right after the first picture's EOI, and list each with its
// offset and size in this index. The file ends after the furthest of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wizard {

// data: the APP2 segment's contents (after its length), which begin at the
// file offset dataAt. Returns the file offset just past the furthest picture
// the index lists, or 0 when the segment holds no index that can be read.
std::int64_t MultiPictureEnd(const std::uint8_t* data, std::size_t count, std::int64_t dataAt);

} // namespace wizard
