// TIFF pictures and the camera raw files built on TIFF, walked by their
// directories (TiffLayout): the file ends with the furthest part they name.
#pragma once

#include "wizard/FormatWalker.h"
#include "wizard/TiffLayout.h"

namespace wizard {

class TiffWalker final : public FormatWalker {
public:
    static bool Recognises(const std::uint8_t* first, std::size_t count) {
        return TiffLayout::Recognises(first, count);
    }

    void Begin(std::int64_t limit) override;
    void Feed(const std::uint8_t* bytes, std::size_t count) override;
    WalkState State() const override;
    std::int64_t End() const override { return layout_.End(); }
    // Only the parts the directories name, once all were read: anything else
    // inside the file's span may be another file written over it.
    bool Holds(std::int64_t offset) const override { return State() == WalkState::Ended && layout_.Holds(offset); }
    bool Embeds(std::int64_t offset) const override { return Holds(offset); }
    const char* Format() const override { return "TIFF"; }

private:
    TiffLayout layout_;
    std::int64_t limit_ = 0;
};

} // namespace wizard
