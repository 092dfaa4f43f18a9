// AMR voice recordings (narrow band "#!AMR\n", wide band "#!AMR-WB\n"): the
// magic, then frames one after the other, each a header byte whose frame
// type gives the frame's length. The file ends before the first byte that
// is no frame header (or at the drive's end). Encoders mark every frame as
// good (the quality bit), so zeros or old bytes after a recording are not
// taken for frames.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class AmrWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "AMR"; }

private:
    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void NothingFollows(std::int64_t at) override;
    // The length of the frame this header byte begins, 0 when it is none.
    int FrameBytes(std::uint8_t header) const;

    bool wideBand_ = false;
    std::int64_t frames_ = 0;
};

} // namespace wizard
