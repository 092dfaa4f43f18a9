// ASF files (WMV, WMA): top-level objects, each a GUID and a 64-bit size.
// The header object holds the file properties object, whose file size is
// the file's length when it agrees with the objects; otherwise (a broadcast
// file, or a size left at 0) the file ends where its top-level objects do.
#pragma once

#include "wizard/ChainWalker.h"

namespace wizard {

class AsfWalker final : public ChainWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count);
    const char* Format() const override { return "ASF"; }

private:
    enum class Step { HeaderObject, HeaderPart, FileSize, TopObject };

    void Start() override;
    void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) override;
    void NothingFollows(std::int64_t at) override;
    void HeaderPart(std::int64_t at, const std::uint8_t* bytes);
    void NextHeaderPart();
    void TopObject(std::int64_t at, const std::uint8_t* bytes);
    void EndBefore(std::int64_t at);

    Step step_ = Step::HeaderObject;
    std::int64_t headerEnd_ = 0;
    std::int64_t partEnd_ = 0;     // of the header object being passed
    std::uint32_t partsLeft_ = 0;  // header objects still to pass
    std::int64_t fileSize_ = 0;    // from the file properties, 0 when unknown
    bool data_ = false;
};

} // namespace wizard
