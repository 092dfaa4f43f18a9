#include "engine/HashBehind.h"

#include <algorithm>

namespace engine {

// One piece per buffer may wait, so handing a piece over never waits
// longer than NextBuffer did.
HashBehind::HashBehind(std::size_t buffers)
    : buffers_(std::max<std::size_t>(buffers, 2)), hashedBy_(buffers_.size(), 0), current_(buffers_.size() - 1),
      pieces_(buffers_.size()) {}

void HashBehind::StartFile() {
    file_ = std::make_shared<Sha256>();
    fileTicket_ = 0;
}

support::AlignedBytes& HashBehind::NextBuffer() {
    current_ = (current_ + 1) % buffers_.size();
    pieces_.Wait(hashedBy_[current_]);
    return buffers_[current_];
}

void HashBehind::HashBuffer(std::size_t count) {
    if (!file_) StartFile();
    const std::uint8_t* bytes = buffers_[current_].data();
    count = std::min(count, buffers_[current_].size());
    // The task keeps the file's hash alive: a file given up midway may be
    // dropped before its pieces are hashed.
    fileTicket_ = pieces_.Post([hash = file_, bytes, count] { hash->Update(bytes, count); });
    hashedBy_[current_] = fileTicket_;
}

std::string HashBehind::Digest(const PendingDigest& pending) {
    if (!pending.hash) return "";
    pieces_.Wait(pending.ticket);
    return pending.hash->HexDigest();
}

} // namespace engine
