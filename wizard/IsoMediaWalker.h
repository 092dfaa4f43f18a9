// ISO base media files (MP4, MOV, 3GP, M4A, HEIC/HEIF, CR3): a chain of
// top-level boxes, each with its size (32-bit, or 64-bit after a size of 1).
// The format records no total length: the file ends where the next bytes are
// no box of a known type, provided the boxes so far make a whole file (the
// media data and the description of it). A box of size 0 runs to the end of
// the file, whose end is then not known from the structure.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class IsoMediaWalker final : public ChainWalker {
public:
    // Whether the first bytes are a box of a type files begin with.
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "ISO media"; }

private:
    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void NothingFollows(std::int64_t at) override;
    void BoxHeader(std::int64_t at, const std::uint8_t* bytes);
    void Box(std::int64_t at, std::uint64_t size);
    void EndBefore(std::int64_t at);

    bool largeSize_ = false;   // the next read is a box's 64-bit size
    std::uint32_t type_ = 0;   // of the box whose 64-bit size is read
    bool description_ = false; // moov or meta seen
    bool media_ = false;       // mdat seen
    bool moov_ = false;
    bool meta_ = false;
    int boxes_ = 0;
};

} // namespace wizard
