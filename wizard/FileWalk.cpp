#include "wizard/FileWalk.h"

namespace wizard {

void FileWalk::Begin(const std::uint8_t* first, std::size_t count, std::int64_t limit) {
    walker_ = WalkerFor(first, count);
    if (walker_) walker_->Begin(limit);
}

void FileWalk::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (walker_ && walker_->State() == State::Walking) walker_->Feed(bytes, count);
}

} // namespace wizard
