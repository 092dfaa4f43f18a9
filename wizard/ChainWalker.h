// The common walk of formats built from units that each begin with a small
// header giving their length (boxes, chunks, objects, pages, packets): the
// walker asks for the next header's bytes at an offset, the bytes in between
// are passed unseen, and the header is handed over whole even when it runs
// across the pieces fed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "wizard/FormatWalker.h"

namespace wizard {

class ChainWalker : public FormatWalker {
public:
    void Begin(std::int64_t limit) final;
    void Feed(const std::uint8_t* bytes, std::size_t count) final;
    WalkState State() const final { return state_; }
    std::int64_t End() const final { return end_; }
    bool Holds(std::int64_t offset) const override;

protected:
    // The most header bytes one Read may ask for.
    static constexpr std::size_t MaxRead = 256;

    // A new file: asks for the first header (Read).
    virtual void Start() = 0;
    // The bytes asked for by the last Read, from the file offset at (which
    // the structure now accounts for). Must Read again, Finish or give up.
    virtual void Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) = 0;
    // A Read at at cannot be served: the file can hold no bytes, or too few,
    // from there on. Gives up unless the walker says otherwise.
    virtual void NothingFollows(std::int64_t at);

    // The next header: count bytes (1 to MaxRead) at the file offset at, no
    // earlier than the header being parsed (it may overlap it: the bytes of
    // the last header are kept), and not the same read again.
    void Read(std::int64_t at, std::size_t count);
    // The structure accounts for the file's bytes up to end; one that claims
    // more than the file can have is given up.
    void Cover(std::int64_t end);
    // The structure checks out and the file ends at end.
    void Finish(std::int64_t end);
    void GiveUp() { state_ = WalkState::Unstructured; }
    std::int64_t Limit() const { return limit_; }
    std::int64_t Covered() const { return covered_; }

private:
    void Deliver();

    WalkState state_ = WalkState::Unstructured;
    std::int64_t limit_ = 0;
    std::int64_t fed_ = 0;      // offset of the next byte fed
    std::int64_t readAt_ = 0;   // the header asked for
    std::size_t readCount_ = 0;
    std::size_t have_ = 0;      // of its bytes, gathered so far
    bool fresh_ = false;        // it was gathered up to the last byte fed
    bool asked_ = false;        // Parse asked for more
    std::int64_t covered_ = 0;
    std::int64_t end_ = 0;
    std::array<std::uint8_t, MaxRead> header_{}; // the header being gathered
    std::array<std::uint8_t, MaxRead> kept_{};   // the last header gathered
    std::int64_t keptAt_ = 0;
    std::size_t keptCount_ = 0;
};

} // namespace wizard
