// Where a carved file ends, told by the file's own structure. Most media
// formats record their lengths (boxes, chunks, segments, pages, frames), so a
// walk over them finds the exact last byte where end patterns and the next
// start only guess. The deep scan feeds each file's bytes in order, sector by
// sector, to the walker chosen by the file's first bytes.
//
// What the bytes say is never trusted blindly: they may be stale or hostile.
// Every walker does bounded work and keeps bounded memory whatever they say,
// never reads outside the bytes fed (it keeps what it needs), and gives up
// (Unstructured) on a structure that does not add up or that claims more
// bytes than the file can have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace wizard {

// How far the walk over a file's own structure got.
enum class WalkState {
    Walking,     // structure still being read: the end is not known yet
    Ended,       // the structure checks out and ends at End()
    Unstructured // not a structure this walker knows, or one that does not add up: the old end rules apply
};

class FormatWalker {
public:
    virtual ~FormatWalker() = default;
    // A new file starts. limit: the most bytes the file may have (what is
    // left of the drive from the file's first byte, at most the carve limit
    // of 4 GiB); a structure that claims more is not trusted (Unstructured).
    virtual void Begin(std::int64_t limit) = 0;
    // The file's next bytes, in order (any count; the deep scan feeds sector
    // by sector). Cheap once past a header: lengths are skipped, not read.
    virtual void Feed(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual WalkState State() const = 0;
    // Ended: the offset in the file of the first byte past its end (exact,
    // may be mid-sector). It may lie before bytes already fed: some formats
    // (ISO media, MP3, MPEG) have no total length and end where the next
    // bytes are no longer part of them, which the walk sees only once those
    // bytes are fed. It may also lie ahead of them, when a length recorded
    // up front (RIFF, ASF, BMP) gives the end before its bytes come.
    virtual std::int64_t End() const = 0;
    // Whether the structure accounts for what lies at this file offset (an
    // embedded picture, the inside of a box/chunk/segment whose length
    // covers it): a file start found there belongs to this file.
    // Meaningful while Walking for offsets already fed, and once Ended; a
    // unit that begins on a sector boundary is known only once that sector
    // has been fed, so ask after feeding it.
    virtual bool Holds(std::int64_t offset) const = 0;
    // Whether a file start at this offset is a part the structure names as
    // its own (a preview or thumbnail picture it points to, or keeps in a
    // segment of its header), rather than bytes it only covers by a length
    // (the payload of a chunk or box, which stale or hostile lengths can
    // make cover other files). False by default.
    virtual bool Embeds(std::int64_t offset) const {
        (void)offset;
        return false;
    }
    // Where end patterns may start to count when the structure is not used
    // to end the file (JPEG: past the header's marker segments, whose
    // embedded pictures have their own end patterns); 0 by default. -1
    // while not yet known.
    virtual std::int64_t EndPatternsFrom() const { return 0; }
    // A short name of the format, for the report ("JPEG", "ISO media", ...).
    virtual const char* Format() const = 0;
};

// The walker for a file whose first bytes are these (the whole first sector
// at least), chosen by those bytes, not by the type's name; null when no
// walker knows them.
std::unique_ptr<FormatWalker> WalkerFor(const std::uint8_t* first, std::size_t count);

} // namespace wizard
