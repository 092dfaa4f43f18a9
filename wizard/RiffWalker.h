// RIFF files (AVI, WAV; "RIFX" with big-endian sizes) and the IFF files built
// the same way (AIFF: "FORM" with big-endian sizes): one form chunk whose
// size gives the file's length, holding chunks whose sizes must add up to it
// (each padded to an even length). An AVI longer than 1 GiB goes on in
// further "RIFF AVIX" forms, walked the same way.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class RiffWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "RIFF"; }

private:
    enum class Step { Form, Chunk, NextForm };

    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void NothingFollows(std::int64_t at) override;
    void Form(std::int64_t at, const std::uint8_t* bytes);
    void Chunk(std::int64_t at, const std::uint8_t* bytes);
    void FormEnds();
    std::uint32_t Size(const std::uint8_t* bytes) const;

    Step step_ = Step::Form;
    bool bigEndian_ = false;
    bool avi_ = false;
    std::uint32_t form_ = 0;    // the first form's magic ("RIFF", "RIFX", "FORM")
    std::int64_t formEnd_ = 0;
    int forms_ = 0;
};

} // namespace wizard
