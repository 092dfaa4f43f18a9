// MPEG program streams (.mpg from cameras, DVD video): pack headers, each
// followed by packets whose headers give their lengths, up to the program
// end code 00 00 01 B9. A stream cut off without the end code ends after its
// last whole packet; so does one whose next pack's clock goes back (the
// start of another film written after it). Every pack header inside the
// film belongs to it.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class MpegPsWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "MPEG"; }

private:
    enum class Step { StartCode, Pack };

    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void NothingFollows(std::int64_t at) override;
    void StartCode(std::int64_t at, const std::uint8_t* bytes);
    void Pack(std::int64_t at, const std::uint8_t* bytes);
    void EndAt(std::int64_t at);

    Step step_ = Step::StartCode;
    std::int64_t packs_ = 0;
    std::uint64_t clock_ = 0; // the last pack's system clock reference
};

} // namespace wizard
