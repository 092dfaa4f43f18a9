#include "wizard/TiffWalker.h"

namespace wizard {

void TiffWalker::Begin(std::int64_t limit) {
    limit_ = limit;
    layout_.Begin(limit);
}

void TiffWalker::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (layout_.GetState() == TiffLayout::State::Walking) layout_.Feed(bytes, count);
}

WalkState TiffWalker::State() const {
    switch (layout_.GetState()) {
    case TiffLayout::State::Walking:
        return WalkState::Walking;
    case TiffLayout::State::Ended:
        // Parts past what the file can hold: the directories are not trusted.
        return layout_.End() <= limit_ ? WalkState::Ended : WalkState::Unstructured;
    case TiffLayout::State::Unstructured:
        break;
    }
    return WalkState::Unstructured;
}

} // namespace wizard
