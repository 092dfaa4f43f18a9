#include "wizard/AmrWalker.h"

#include <cstring>

namespace wizard {

namespace {

constexpr char NarrowMagic[] = "#!AMR\n";
constexpr char WideMagic[] = "#!AMR-WB\n";
constexpr std::size_t NarrowMagicBytes = sizeof NarrowMagic - 1;
constexpr std::size_t WideMagicBytes = sizeof WideMagic - 1;

// Frame lengths by frame type, the header byte included; 0: no such type.
constexpr int NarrowFrameBytes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
constexpr int WideFrameBytes[16] = {18, 24, 33, 37, 41, 47, 51, 59, 61, 6, 0, 0, 0, 0, 1, 1};

constexpr std::uint8_t QualityBit = 0x04;
constexpr std::uint8_t FixedBits = 0x83; // the padding bits and the bit before the type: zero

bool StartsWith(const std::uint8_t* first, std::size_t count, const char* magic, std::size_t length) {
    return count >= length && std::memcmp(first, magic, length) == 0;
}

} // namespace

bool AmrWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return StartsWith(first, count, NarrowMagic, NarrowMagicBytes) ||
           StartsWith(first, count, WideMagic, WideMagicBytes);
}

void AmrWalker::Start() {
    frames_ = 0;
    // The wide band magic begins like the narrow one: the first header
    // byte is asked for after whichever magic the file has, both read here.
    Read(0, WideMagicBytes);
}

int AmrWalker::FrameBytes(std::uint8_t header) const {
    if ((header & FixedBits) != 0 || (header & QualityBit) == 0) return 0;
    const std::size_t type = (header >> 3) & 0x0F;
    return wideBand_ ? WideFrameBytes[type] : NarrowFrameBytes[type];
}

void AmrWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) {
    if (at == 0) {
        wideBand_ = StartsWith(bytes, count, WideMagic, WideMagicBytes);
        // A narrow band file's first frame may lie inside the bytes read.
        const auto first = static_cast<std::int64_t>(wideBand_ ? WideMagicBytes : NarrowMagicBytes);
        return Read(first, 1);
    }
    const int length = FrameBytes(bytes[0]);
    if (length == 0) return frames_ > 0 ? Finish(at) : GiveUp();
    ++frames_;
    Read(at + length, 1);
}

// The last frame ends with the bytes the file can have.
void AmrWalker::NothingFollows(std::int64_t at) {
    if (frames_ > 0 && at == Limit()) Finish(at);
}

} // namespace wizard
