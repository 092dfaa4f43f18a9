#include "wizard/GifWalker.h"

#include <cstring>

namespace wizard {

namespace {

constexpr std::size_t HeaderBytes = 13; // signature and logical screen descriptor
constexpr std::size_t ImageDescriptorBytes = 9; // after its introducer
constexpr std::uint8_t ExtensionIntroducer = 0x21;
constexpr std::uint8_t ImageSeparator = 0x2C;
constexpr std::uint8_t Trailer = 0x3B;

// The bytes of a colour table whose presence and size the flags byte gives.
std::int64_t ColourTableBytes(std::uint8_t flags) { return (flags & 0x80) ? 3 << ((flags & 7) + 1) : 0; }

} // namespace

bool GifWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= HeaderBytes && (std::memcmp(first, "GIF87a", 6) == 0 || std::memcmp(first, "GIF89a", 6) == 0);
}

void GifWalker::Start() {
    step_ = Step::Header;
    images_ = 0;
    Read(0, HeaderBytes);
}

void GifWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t) {
    const std::int64_t next = at + 1;
    switch (step_) {
    case Step::Header:
        step_ = Step::Block;
        return Read(static_cast<std::int64_t>(HeaderBytes) + ColourTableBytes(bytes[10]), 1);
    case Step::Block:
        return Block(at, bytes[0]);
    case Step::ExtensionLabel:
        return SubBlocksFrom(next);
    case Step::ImageDescriptor:
        step_ = Step::CodeSize;
        return Read(at + static_cast<std::int64_t>(ImageDescriptorBytes) + ColourTableBytes(bytes[8]), 1);
    case Step::CodeSize:
        if (bytes[0] < 1 || bytes[0] > 11) return GiveUp();
        return SubBlocksFrom(next);
    case Step::SubBlock:
        // A zero length ends the blocks; each other one is followed by its bytes.
        if (bytes[0] == 0) {
            step_ = Step::Block;
            Cover(next);
            return Read(next, 1);
        }
        Cover(next + bytes[0]);
        return Read(next + bytes[0], 1);
    }
}

void GifWalker::Block(std::int64_t at, std::uint8_t introducer) {
    switch (introducer) {
    case ExtensionIntroducer:
        step_ = Step::ExtensionLabel;
        return Read(at + 1, 1);
    case ImageSeparator:
        ++images_;
        step_ = Step::ImageDescriptor;
        return Read(at + 1, ImageDescriptorBytes);
    case Trailer:
        if (images_ == 0) return GiveUp();
        return Finish(at + 1);
    default:
        return GiveUp();
    }
}

void GifWalker::SubBlocksFrom(std::int64_t at) {
    step_ = Step::SubBlock;
    Read(at, 1);
}

} // namespace wizard
