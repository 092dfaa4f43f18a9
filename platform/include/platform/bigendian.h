// Big-endian readers over a byte span, the counterpart of littleendian.h for
// the media formats that store their numbers most significant byte first.
// Every read is checked against its span: a byte past the end reads as 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/littleendian.h"

namespace platform {

inline std::uint16_t ReadBe16(ByteView bytes, std::size_t at) {
    return static_cast<std::uint16_t>((ReadU8(bytes, at) << 8) | ReadU8(bytes, at + 1));
}

inline std::uint32_t ReadBe24(ByteView bytes, std::size_t at) {
    return (static_cast<std::uint32_t>(ReadU8(bytes, at)) << 16) | ReadBe16(bytes, at + 1);
}

inline std::uint32_t ReadBe32(ByteView bytes, std::size_t at) {
    return (static_cast<std::uint32_t>(ReadBe16(bytes, at)) << 16) | ReadBe16(bytes, at + 2);
}

inline std::uint64_t ReadBe64(ByteView bytes, std::size_t at) {
    return (static_cast<std::uint64_t>(ReadBe32(bytes, at)) << 32) | ReadBe32(bytes, at + 4);
}

} // namespace platform
