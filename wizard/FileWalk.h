// The walk over the structure of the file being carved: the one place where
// the deep scan meets the format walkers. The walker is chosen by the file's
// own first bytes, not by its type's name: a JPEG's marker segments
// (FileHeader), a TIFF-based file's directories (TiffLayout), or none.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wizard/FileHeader.h"
#include "wizard/TiffLayout.h"

namespace wizard {

class FileWalk {
public:
    enum class State {
        Walking,     // the structure is still being read: the end is not known yet
        Ended,       // the structure checks out and the file ends at End()
        Unstructured // no structure a walker knows, or one that does not add up
    };

    // A new file starts with these bytes (its first sector at least). limit:
    // the most bytes the file may have (what is left of the drive, at most
    // 4 GiB); a structure that claims more is not trusted.
    void Begin(const std::uint8_t* first, std::size_t count, std::int64_t limit);
    // The file's next bytes, in order (the first ones included).
    void Feed(const std::uint8_t* bytes, std::size_t count);

    State GetState() const;
    // Ended: the offset in the file of the first byte past its end.
    std::int64_t End() const;
    // Whether the structure accounts for what lies at this file offset (a
    // picture embedded in a segment, a part a directory names): a file start
    // found there belongs to this file, if the structure holds.
    bool Holds(std::int64_t offset) const;
    // Where end patterns start to count: past a JPEG's marker segments,
    // whose embedded pictures have end patterns of their own; -1 while that
    // is not known yet.
    std::int64_t EndPatternsFrom() const;

private:
    enum class Kind { None, Jpeg, Tiff };

    Kind kind_ = Kind::None;
    FileHeader header_;
    TiffLayout tiff_;
};

} // namespace wizard
