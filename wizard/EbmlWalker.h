// Matroska and WebM files (EBML): the EBML header element, then one Segment
// element whose size covers the rest of the file; the top-level elements
// inside it (clusters, cues, tracks...) must fill it exactly. A segment of
// unknown size (a live recording) is not walked.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class EbmlWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "Matroska"; }

private:
    enum class Step { Header, Segment, Child };

    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;

    Step step_ = Step::Header;
    std::int64_t segmentEnd_ = 0;
};

} // namespace wizard
