#include "wizard/FileHeader.h"

#include <algorithm>

namespace wizard {

namespace {

// JPEG markers (the byte after FF).
constexpr std::uint8_t StartOfImage = 0xD8;
constexpr std::uint8_t EndOfImage = 0xD9;
constexpr std::uint8_t StartOfScan = 0xDA;
constexpr std::uint8_t Fill = 0xFF;
// Beyond these the bytes are no header but erased or damaged space (erased
// flash reads as FF): the walk gives up rather than hide what follows.
constexpr int MaxFillBytes = 64;
constexpr std::int64_t MaxHeaderBytes = 16 * 1024 * 1024;

// Markers that stand alone, without a length.
bool StandsAlone(std::uint8_t code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD7); }

} // namespace

void FileHeader::Begin(std::int64_t limit) {
    state_ = State::Walking;
    limit_ = std::min(limit, MaxHeaderBytes);
    step_ = Step::Start;
    offset_ = 0;
    end_ = 0;
    skip_ = 0;
    length_ = 0;
    fillBytes_ = 0;
    scanHeader_ = false;
}

void FileHeader::Feed(const std::uint8_t* bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count && state_ == State::Walking) {
        if (step_ == Step::Skip) {
            // Segment contents are passed whole: they may run across blocks.
            const auto left = static_cast<std::int64_t>(count - i);
            const auto n = static_cast<std::size_t>(std::min(skip_, left));
            i += n;
            offset_ += static_cast<std::int64_t>(n);
            skip_ -= static_cast<std::int64_t>(n);
            if (skip_ > 0) continue;
            if (scanHeader_) {
                // The image data begins here.
                end_ = offset_;
                state_ = State::Ended;
                return;
            }
            step_ = Step::MarkerPrefix;
            continue;
        }
        Take(bytes[i++]);
        ++offset_;
    }
}

// One byte of the JPEG's marker segments: FF D8, then FF, a marker code and
// (for most codes) a two-byte big-endian length that counts itself.
void FileHeader::Take(std::uint8_t byte) {
    switch (step_) {
    case Step::Start:
        if (byte != Fill) return Broken();
        step_ = Step::Soi;
        return;
    case Step::Soi:
        if (byte != StartOfImage) return Broken();
        step_ = Step::MarkerPrefix;
        return;
    case Step::MarkerPrefix:
        if (byte != Fill) return Broken();
        step_ = Step::MarkerCode;
        return;
    case Step::MarkerCode:
        if (byte == Fill) { // fill bytes before a marker
            if (++fillBytes_ > MaxFillBytes) Broken();
            return;
        }
        fillBytes_ = 0;
        if (byte == 0x00 || byte == StartOfImage) return Broken();
        if (byte == EndOfImage) {
            // An image without data: its end is this marker.
            end_ = offset_ - 1;
            state_ = State::Ended;
            return;
        }
        if (StandsAlone(byte)) {
            step_ = Step::MarkerPrefix;
            return;
        }
        scanHeader_ = byte == StartOfScan;
        step_ = Step::LengthHigh;
        return;
    case Step::LengthHigh:
        length_ = static_cast<unsigned>(byte) << 8;
        step_ = Step::LengthLow;
        return;
    case Step::LengthLow:
        length_ |= byte;
        if (length_ < 2 || offset_ + length_ > limit_) return Broken();
        skip_ = length_ - 2;
        step_ = Step::Skip;
        if (skip_ == 0 && scanHeader_) {
            end_ = offset_ + 1;
            state_ = State::Ended;
        } else if (skip_ == 0) {
            step_ = Step::MarkerPrefix;
        }
        return;
    case Step::Skip:
        return;
    }
}

} // namespace wizard
