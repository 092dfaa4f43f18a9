#include "wizard/JpegWalker.h"

#include "wizard/MultiPictureIndex.h"

#include <algorithm>
#include <cstring>

namespace wizard {

namespace {

// JPEG markers (the byte after FF).
constexpr std::uint8_t StartOfImage = 0xD8;
constexpr std::uint8_t EndOfImage = 0xD9;
constexpr std::uint8_t StartOfScan = 0xDA;
constexpr std::uint8_t Fill = 0xFF;
constexpr std::uint8_t Stuffed = 0x00;
constexpr std::uint8_t App2 = 0xE2;
// Beyond these the bytes are no JPEG but erased or damaged space (erased
// flash reads as FF): the walk gives up rather than hide what follows.
constexpr int MaxFillBytes = 64;
constexpr std::int64_t MaxHeaderBytes = 16 * 1024 * 1024;
constexpr std::size_t MinUniformRun = 512;

// Markers that stand alone, without a length.
bool StandsAlone(std::uint8_t code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD7); }
bool IsRestart(std::uint8_t code) { return code >= 0xD0 && code <= 0xD7; }

} // namespace

bool JpegWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= 3 && first[0] == Fill && first[1] == StartOfImage && first[2] == Fill;
}

void JpegWalker::Begin(std::int64_t limit) {
    state_ = WalkState::Walking;
    step_ = Step::Start;
    limit_ = std::max<std::int64_t>(limit, 0);
    offset_ = 0;
    end_ = 0;
    headerEnd_ = -1;
    segmentEnd_ = 0;
    length_ = 0;
    fillBytes_ = 0;
    scanHeader_ = false;
    keepSegment_ = false;
    kept_.clear();
    picturesEnd_ = 0;
}

void JpegWalker::Feed(const std::uint8_t* bytes, std::size_t count) {
    // A sector of one byte value is no entropy-coded data (erased or zeroed
    // space): the picture's data broke off before it.
    if (step_ == Step::Entropy && count >= MinUniformRun && std::memcmp(bytes, bytes + 1, count - 1) == 0) {
        return GiveUp();
    }
    std::size_t i = 0;
    while (i < count && state_ == WalkState::Walking) {
        std::size_t n = Pass(bytes + i, count - i);
        if (n == 0) {
            Take(bytes[i]);
            n = 1;
        }
        i += n;
        offset_ += static_cast<std::int64_t>(n);
        if (step_ == Step::Segment && offset_ == segmentEnd_) SegmentEnds();
    }
}

// Bytes passed whole: the inside of a segment, and entropy-coded data up to
// its next FF.
std::size_t JpegWalker::Pass(const std::uint8_t* bytes, std::size_t count) {
    if (step_ == Step::Segment) {
        const auto n =
            static_cast<std::size_t>(std::min<std::int64_t>(segmentEnd_ - offset_, static_cast<std::int64_t>(count)));
        if (keepSegment_) kept_.insert(kept_.end(), bytes, bytes + n);
        return n;
    }
    if (step_ == Step::Entropy) {
        const void* marker = std::memchr(bytes, Fill, count);
        return marker ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(marker) - bytes) : count;
    }
    return 0;
}

// One byte of the markers: FF D8, then FF, a marker code and (for most
// codes) a two-byte big-endian length that counts itself.
void JpegWalker::Take(std::uint8_t byte) {
    switch (step_) {
    case Step::Start:
        if (byte != Fill) return GiveUp();
        step_ = Step::Soi;
        return;
    case Step::Soi:
        if (byte != StartOfImage) return GiveUp();
        step_ = Step::MarkerPrefix;
        return;
    case Step::MarkerPrefix:
        if (byte != Fill) return GiveUp();
        step_ = Step::MarkerCode;
        return;
    case Step::MarkerCode:
        return Marker(byte);
    case Step::LengthHigh:
        length_ = static_cast<unsigned>(byte) << 8;
        step_ = Step::LengthLow;
        return;
    case Step::LengthLow:
        length_ |= byte;
        return SegmentLength();
    case Step::Entropy: // the FF that Pass stopped at
        step_ = Step::EntropyMarker;
        return;
    case Step::EntropyMarker:
        return EntropyMarker(byte);
    case Step::Segment:
        return; // passed whole by Pass
    }
}

void JpegWalker::Marker(std::uint8_t code) {
    if (code == Fill) { // fill bytes before a marker
        if (++fillBytes_ > MaxFillBytes) GiveUp();
        return;
    }
    fillBytes_ = 0;
    if (code == Stuffed || code == StartOfImage) return GiveUp();
    if (code == EndOfImage) {
        if (headerEnd_ < 0) headerEnd_ = offset_ - 1; // a picture without data
        return ImageEnds();
    }
    if (StandsAlone(code)) {
        step_ = Step::MarkerPrefix;
        return;
    }
    scanHeader_ = code == StartOfScan;
    // Only the first picture's own index counts, from its header.
    keepSegment_ = code == App2 && headerEnd_ < 0 && picturesEnd_ == 0;
    step_ = Step::LengthHigh;
}

// The byte after an FF in entropy-coded data.
void JpegWalker::EntropyMarker(std::uint8_t code) {
    if (code == Fill) {
        if (++fillBytes_ > MaxFillBytes) GiveUp();
        return;
    }
    fillBytes_ = 0;
    if (code == Stuffed || IsRestart(code)) {
        step_ = Step::Entropy;
        return;
    }
    // Any other marker ends the scan: EOI, or the tables and the next scan
    // of a progressive picture.
    Marker(code);
}

void JpegWalker::SegmentLength() {
    const std::int64_t end = offset_ - 1 + length_; // the length counts its own two bytes
    if (length_ < 2 || end > limit_ || (headerEnd_ < 0 && end > MaxHeaderBytes)) return GiveUp();
    segmentEnd_ = end;
    step_ = Step::Segment;
}

// offset_ is the first byte past the segment.
void JpegWalker::SegmentEnds() {
    if (keepSegment_) {
        const auto dataAt = offset_ - static_cast<std::int64_t>(kept_.size());
        picturesEnd_ = MultiPictureEnd(kept_.data(), kept_.size(), dataAt);
        keepSegment_ = false;
        kept_ = {};
    }
    if (!scanHeader_) {
        step_ = Step::MarkerPrefix;
        return;
    }
    if (headerEnd_ < 0) headerEnd_ = offset_;
    step_ = Step::Entropy;
}

// offset_ is the EOI's D9. Further pictures the index lists past it, within
// what the file can hold, belong to the file.
void JpegWalker::ImageEnds() {
    const std::int64_t end = offset_ + 1;
    Finish(picturesEnd_ > end && picturesEnd_ <= limit_ ? picturesEnd_ : end);
}

void JpegWalker::Finish(std::int64_t end) {
    if (end > limit_) return GiveUp();
    end_ = end;
    state_ = WalkState::Ended;
}

void JpegWalker::GiveUp() {
    if (headerEnd_ < 0) headerEnd_ = 0;
    state_ = WalkState::Unstructured;
}

bool JpegWalker::Holds(std::int64_t offset) const {
    if (offset < 0) return false;
    if (state_ == WalkState::Ended) return offset < end_;
    const std::int64_t walked = step_ == Step::Segment ? std::max(offset_, segmentEnd_) : offset_;
    return state_ == WalkState::Walking && offset < walked;
}

} // namespace wizard
