// JPEG pictures: the marker segments of the header (each with its length;
// cameras put whole pictures into them), then the entropy-coded data of one
// or more scans (byte-stuffed FF 00, restart markers, and between the scans
// of a progressive picture more segments), up to the EOI marker: the exact
// end of the file, unless its Multi-Picture index lists further pictures
// stored after it (then the end of the furthest).
#pragma once

#include <vector>

#include "wizard/FormatWalker.h"

namespace wizard {

class JpegWalker final : public FormatWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);

    void Begin(std::int64_t limit) override;
    void Feed(const std::uint8_t* bytes, std::size_t count) override;
    WalkState State() const override { return state_; }
    std::int64_t End() const override { return end_; }
    bool Holds(std::int64_t offset) const override;
    // Coded data cannot hold a start: what a JPEG holds is in its segments.
    bool Embeds(std::int64_t offset) const override { return Holds(offset); }
    // Past the header's segments, or 0 when the header does not chain up.
    std::int64_t EndPatternsFrom() const override { return headerEnd_; }
    const char* Format() const override { return "JPEG"; }

private:
    enum class Step { Start, Soi, MarkerPrefix, MarkerCode, LengthHigh, LengthLow, Segment, Entropy, EntropyMarker };

    std::size_t Pass(const std::uint8_t* bytes, std::size_t count);
    void Take(std::uint8_t byte);
    void Marker(std::uint8_t code);
    void EntropyMarker(std::uint8_t code);
    void SegmentLength();
    void SegmentEnds();
    void ImageEnds();
    void Finish(std::int64_t end);
    void GiveUp();

    WalkState state_ = WalkState::Unstructured;
    Step step_ = Step::Start;
    std::int64_t limit_ = 0;
    std::int64_t offset_ = 0;     // of the next byte fed
    std::int64_t end_ = 0;
    std::int64_t headerEnd_ = -1;
    std::int64_t segmentEnd_ = 0; // of the segment being passed
    unsigned length_ = 0;
    int fillBytes_ = 0;
    bool scanHeader_ = false;     // the segment being passed starts a scan
    bool keepSegment_ = false;    // it may be a Multi-Picture index: its bytes are kept
    std::vector<std::uint8_t> kept_;
    std::int64_t picturesEnd_ = 0; // past the further pictures of the index
};

} // namespace wizard
