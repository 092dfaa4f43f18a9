// GIF pictures: the header and screen descriptor (with its colour table),
// then extensions and images, each made of sub-blocks that carry their own
// lengths, up to the trailer byte 0x3B, which ends the file.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class GifWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "GIF"; }

private:
    enum class Step { Header, Block, ExtensionLabel, ImageDescriptor, CodeSize, SubBlock };

    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void Block(std::int64_t at, std::uint8_t introducer);
    void SubBlocksFrom(std::int64_t at);

    Step step_ = Step::Header;
    int images_ = 0;
};

} // namespace wizard
