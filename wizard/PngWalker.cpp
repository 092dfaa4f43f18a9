#include "wizard/PngWalker.h"

#include <cstring>

#include "platform/bigendian.h"

namespace wizard {

namespace {

constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::size_t ChunkHeaderBytes = 8;
constexpr std::int64_t CrcBytes = 4;
constexpr std::uint32_t MaxChunkLength = 0x7FFFFFFF;

bool IsLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

bool PngWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= sizeof Signature + ChunkHeaderBytes && std::memcmp(first, Signature, sizeof Signature) == 0;
}

void PngWalker::Start() {
    chunks_ = 0;
    Read(sizeof Signature, ChunkHeaderBytes);
}

void PngWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t) {
    const std::uint32_t length = platform::ReadBe32(platform::ByteView(bytes, ChunkHeaderBytes), 0);
    const std::uint8_t* type = bytes + 4;
    if (length > MaxChunkLength || !IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) ||
        !IsLetter(type[3])) {
        return GiveUp();
    }
    if (chunks_++ == 0 && std::memcmp(type, "IHDR", 4) != 0) return GiveUp();
    const std::int64_t end = at + static_cast<std::int64_t>(ChunkHeaderBytes) + length + CrcBytes;
    Cover(end);
    if (std::memcmp(type, "IEND", 4) == 0) return Finish(end);
    Read(end, ChunkHeaderBytes);
}

} // namespace wizard
