// MPEG audio files (MP3, and MPEG-1/2/2.5 layers I and II): an optional
// ID3v2 tag whose header gives its size, then frames one after the other,
// each header giving the frame's length, then optional APE and ID3v1 tags.
// The frames record no total: the file ends where the next bytes are neither
// a frame of the same stream nor a tag. Free-format frames (no bitrate in
// the header) have no length and are not walked.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class Mp3Walker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "MPEG audio"; }

private:
    enum class Step { Start, Frame };

    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void NothingFollows(std::int64_t at) override;
    void FirstBytes(std::int64_t at, const std::uint8_t* bytes);
    void Frame(std::int64_t at, const std::uint8_t* bytes);
    void ApeTag(std::int64_t at, const std::uint8_t* bytes);
    void Next(std::int64_t at);
    void EndAt(std::int64_t at);

    Step step_ = Step::Start;
    std::uint32_t stream_ = 0; // the first frame's version, layer and sample rate bits
    std::int64_t frames_ = 0;
    bool tagged_ = false;       // an ID3v1 or APE tag was walked
};

// The length in bytes of the MPEG audio frame whose header is these four
// bytes, or 0 when they are no frame header (or a free-format one).
std::int64_t MpegAudioFrameBytes(const std::uint8_t* header);

} // namespace wizard
