#include "wizard/ChainWalker.h"

#include <algorithm>
#include <cstring>

namespace wizard {

void ChainWalker::Begin(std::int64_t limit) {
    state_ = WalkState::Walking;
    limit_ = std::max<std::int64_t>(limit, 0);
    fed_ = 0;
    readAt_ = 0;
    readCount_ = 0;
    have_ = 0;
    fresh_ = false;
    keptAt_ = 0;
    keptCount_ = 0;
    covered_ = 0;
    end_ = 0;
    asked_ = false;
    Start();
    if (state_ == WalkState::Walking && !asked_) GiveUp();
}

void ChainWalker::Feed(const std::uint8_t* bytes, std::size_t count) {
    std::size_t i = 0;
    while (state_ == WalkState::Walking) {
        if (have_ == readCount_) {
            Deliver();
            continue;
        }
        if (i == count) break;
        const std::int64_t here = fed_ + static_cast<std::int64_t>(i);
        const std::int64_t wanted = readAt_ + static_cast<std::int64_t>(have_);
        if (here < wanted) {
            // The inside of a unit: skipped by its length.
            i += static_cast<std::size_t>(std::min<std::int64_t>(wanted - here, static_cast<std::int64_t>(count - i)));
            continue;
        }
        const std::size_t take = std::min(readCount_ - have_, count - i);
        std::memcpy(header_.data() + have_, bytes + i, take);
        have_ += take;
        i += take;
        fresh_ = have_ == readCount_;
    }
    fed_ += static_cast<std::int64_t>(count);
}

void ChainWalker::Deliver() {
    const std::int64_t at = readAt_;
    const std::size_t count = readCount_;
    if (fresh_) {
        // Its bytes end with the last byte fed: the next read may overlap them.
        std::memcpy(kept_.data(), header_.data(), count);
        keptAt_ = at;
        keptCount_ = count;
        fresh_ = false;
    }
    have_ = 0;
    asked_ = false;
    covered_ = std::max(covered_, at + static_cast<std::int64_t>(count));
    Parse(at, kept_.data() + (at - keptAt_), count);
    if (state_ == WalkState::Walking && !asked_) GiveUp();
}

void ChainWalker::Read(std::int64_t at, std::size_t count) {
    if (state_ != WalkState::Walking) return;
    const bool again = at < readAt_ || (at == readAt_ && count <= readCount_);
    if (count == 0 || count > MaxRead || again || at > limit_) return GiveUp();
    if (limit_ - at < static_cast<std::int64_t>(count)) {
        NothingFollows(at);
        if (state_ == WalkState::Walking) GiveUp(); // nothing can serve a wait
        return;
    }
    const std::int64_t keptEnd = keptAt_ + static_cast<std::int64_t>(keptCount_);
    have_ = 0;
    if (at < keptEnd) {
        have_ = std::min(static_cast<std::size_t>(keptEnd - at), count);
        std::memcpy(header_.data(), kept_.data() + (at - keptAt_), have_);
    }
    readAt_ = at;
    readCount_ = count;
    asked_ = true;
}

void ChainWalker::Cover(std::int64_t end) {
    if (end > limit_ || end < 0) return GiveUp();
    covered_ = std::max(covered_, end);
}

void ChainWalker::Finish(std::int64_t end) {
    if (state_ != WalkState::Walking) return;
    if (end > limit_ || end <= 0) return GiveUp();
    end_ = end;
    covered_ = end;
    state_ = WalkState::Ended;
}

void ChainWalker::NothingFollows(std::int64_t) { GiveUp(); }

bool ChainWalker::Holds(std::int64_t offset) const {
    if (offset < 0 || offset >= covered_) return false;
    return state_ != WalkState::Ended || offset < end_;
}

} // namespace wizard
