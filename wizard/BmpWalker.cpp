#include "wizard/BmpWalker.h"

#include <cstdlib>

#include "platform/littleendian.h"

namespace wizard {

namespace {

constexpr std::size_t FileHeaderBytes = 14;
constexpr std::size_t HeaderBytes = FileHeaderBytes + 40; // with a BITMAPINFOHEADER or larger
constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiBitfields = 3;
constexpr std::uint32_t BiAlphaBitfields = 6;
constexpr std::int64_t MaxSide = 1 << 20;

bool KnownDepth(unsigned bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

} // namespace

bool BmpWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= HeaderBytes && first[0] == 'B' && first[1] == 'M';
}

void BmpWalker::Start() { Read(0, HeaderBytes); }

void BmpWalker::Parse(std::int64_t, const std::uint8_t* bytes, std::size_t count) {
    const platform::ByteView header(bytes, count);
    const std::int64_t size = platform::ReadLe32(header, 2);
    const std::int64_t pixelsAt = platform::ReadLe32(header, 10);
    const std::int64_t infoBytes = platform::ReadLe32(header, 14);
    const std::int64_t width = platform::ReadLeI32(header, 18);
    const std::int64_t height = std::llabs(platform::ReadLeI32(header, 22));
    const unsigned planes = platform::ReadLe16(header, 26);
    const unsigned bits = platform::ReadLe16(header, 28);
    const std::uint32_t compression = platform::ReadLe32(header, 30);
    const std::int64_t imageBytes = platform::ReadLe32(header, 34);
    if (infoBytes < 40 || infoBytes > 1024 || pixelsAt < static_cast<std::int64_t>(FileHeaderBytes) + infoBytes ||
        planes != 1 || !KnownDepth(bits) || width <= 0 || width > MaxSide || height == 0 || height > MaxSide) {
        return GiveUp();
    }
    std::int64_t pixels = imageBytes;
    if (compression == BiRgb || compression == BiBitfields || compression == BiAlphaBitfields) {
        pixels = (width * bits + 31) / 32 * 4 * height; // rows padded to four bytes
    }
    if (pixels <= 0 || pixelsAt + pixels > size) return GiveUp();
    Finish(size);
}

} // namespace wizard
