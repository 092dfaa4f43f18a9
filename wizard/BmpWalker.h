// Windows bitmaps: the file header's size field gives the file's length; it
// is trusted only when the info header agrees (the pixels, as its size,
// depth and compression give them, fit inside it).
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class BmpWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "BMP"; }

private:
    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
};

} // namespace wizard
