// The walk over the structure of the file being carved: the one place where
// the deep scan meets the format walkers. The walker is chosen by the file's
// own first bytes, not by its type's name (WalkerFor); a file no walker
// knows has no structure to go by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "wizard/FormatWalker.h"

namespace wizard {

class FileWalk {
public:
    using State = WalkState;

    // A new file starts with these bytes (its first sector at least). limit:
    // the most bytes the file may have (what is left of the drive, at most
    // 4 GiB); a structure that claims more is not trusted.
    void Begin(const std::uint8_t* first, std::size_t count, std::int64_t limit);
    // The file's next bytes, in order (the first ones included).
    void Feed(const std::uint8_t* bytes, std::size_t count);

    State GetState() const { return walker_ ? walker_->State() : State::Unstructured; }
    // Ended: the offset in the file of the first byte past its end. It may
    // lie behind the bytes fed (the walk saw only then that they were no
    // longer part of the file) or ahead of them.
    std::int64_t End() const { return walker_ ? walker_->End() : 0; }
    // Whether the structure accounts for what lies at this file offset (a
    // picture embedded in a segment, the inside of a box): a file start
    // found there belongs to this file, if the structure holds. Asked after
    // the sector at that offset was fed.
    bool Holds(std::int64_t offset) const { return walker_ && walker_->Holds(offset); }
    // Whether a start at this offset is a part the structure names as its
    // own (FormatWalker::Embeds).
    bool Embeds(std::int64_t offset) const { return walker_ && walker_->Embeds(offset); }
    // Where end patterns start to count: past a JPEG's marker segments,
    // whose embedded pictures have end patterns of their own; -1 while that
    // is not known yet.
    std::int64_t EndPatternsFrom() const { return walker_ ? walker_->EndPatternsFrom() : 0; }
    // The format walked ("JPEG", "RIFF", ...), "" when none.
    const char* Format() const { return walker_ ? walker_->Format() : ""; }

private:
    std::unique_ptr<FormatWalker> walker_;
};

} // namespace wizard
