// The one set of little-endian readers and writers for on-disk and stored
// records. Every read is checked against its span: a byte past the end reads
// as 0, so a short or damaged record never reads beyond its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace platform {

using ByteView = std::span<const std::uint8_t>;

inline std::uint8_t ReadU8(ByteView bytes, std::size_t at) { return at < bytes.size() ? bytes[at] : 0; }

inline std::uint16_t ReadLe16(ByteView bytes, std::size_t at) {
    return static_cast<std::uint16_t>(ReadU8(bytes, at) | (ReadU8(bytes, at + 1) << 8));
}

inline std::uint32_t ReadLe32(ByteView bytes, std::size_t at) {
    return ReadLe16(bytes, at) | (static_cast<std::uint32_t>(ReadLe16(bytes, at + 2)) << 16);
}

inline std::uint64_t ReadLe64(ByteView bytes, std::size_t at) {
    return ReadLe32(bytes, at) | (static_cast<std::uint64_t>(ReadLe32(bytes, at + 4)) << 32);
}

inline std::int32_t ReadLeI32(ByteView bytes, std::size_t at) { return static_cast<std::int32_t>(ReadLe32(bytes, at)); }

// Fills out (a std::array of bytes) from at; bytes past the end of the span become 0.
template <typename Array>
void ReadBytes(ByteView bytes, std::size_t at, Array& out) {
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = ReadU8(bytes, at + i);
}

inline void AppendU8(std::vector<std::uint8_t>& out, unsigned value) { out.push_back(static_cast<std::uint8_t>(value)); }

inline void AppendLe16(std::vector<std::uint8_t>& out, unsigned value) {
    AppendU8(out, value & 0xFF);
    AppendU8(out, (value >> 8) & 0xFF);
}

inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    AppendLe16(out, value & 0xFFFF);
    AppendLe16(out, value >> 16);
}

} // namespace platform
