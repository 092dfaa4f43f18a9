// Ogg files (Vorbis, Opus, Theora, FLAC in Ogg): pages, each a 27-byte header
// and a segment table whose sum is the page's body. Every logical stream
// begins with a page marked BOS and ends with one marked EOS; the file ends
// with the page that ends the last open stream.
#pragma once

#include <vector>

#include "wizard/ChainWalker.h"

namespace wizard {

class OggWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "Ogg"; }

private:
    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void PageHeader(std::int64_t at, const std::uint8_t* bytes);
    void SegmentTable(std::int64_t at, const std::uint8_t* bytes, std::size_t count);

    bool table_ = false;          // the next read is a page's segment table
    bool endsStream_ = false;     // the page being read is its stream's last
    std::uint32_t serial_ = 0;
    std::vector<std::uint32_t> open_; // streams begun and not yet ended
    int streams_ = 0;
};

} // namespace wizard
