// PNG pictures: the signature, then chunks (length, type, data, CRC) from
// IHDR up to IEND, which ends the file.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class PngWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "PNG"; }

private:
    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;

    int chunks_ = 0;
};

} // namespace wizard
