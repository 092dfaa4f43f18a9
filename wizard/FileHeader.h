// Where a carved file's own header ends. Cameras put whole pictures into the
// header of a photo (the EXIF thumbnail, a larger preview in another
// segment), each with its own end pattern, often followed by zero padding:
// such an end pattern ends the embedded picture, not the file. The deep scan
// feeds the file's bytes in order and lets its end test start only past the
// header. The kind of header is told by the file's own first bytes, not by
// its type's name; known today: JPEG, whose marker segments (each with its
// length) run up to the start of the image data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wizard {

class FileHeader {
public:
    enum class State {
        Walking,     // inside the header: no end pattern here ends the file
        Ended,       // the header ends at End()
        Unstructured // no header of a known kind, or one that does not chain
                     // up (damaged): end patterns count from the file's start
    };

    // A new file starts; its bytes follow through Feed. limit: the most bytes
    // the file may have; a segment that runs beyond it is not trusted
    // (Unstructured).
    void Begin(std::int64_t limit = 4294967296LL);
    // The next bytes of the file, in order. Cheap once the header is passed.
    void Feed(const std::uint8_t* bytes, std::size_t count);

    State GetState() const { return state_; }
    // The offset in the file of the first byte after the header (Ended).
    std::int64_t End() const { return end_; }

private:
    enum class Step { Start, Soi, MarkerPrefix, MarkerCode, LengthHigh, LengthLow, Skip };

    void Take(std::uint8_t byte);
    void Broken() { state_ = State::Unstructured; }

    State state_ = State::Unstructured;
    Step step_ = Step::Start;
    std::int64_t offset_ = 0;  // file offset of the next byte fed
    std::int64_t end_ = 0;
    std::int64_t limit_ = 0;
    std::int64_t skip_ = 0;    // segment bytes still to pass
    unsigned length_ = 0;
    int fillBytes_ = 0;
    bool scanHeader_ = false;  // the segment being passed is the start of scan
};

} // namespace wizard
