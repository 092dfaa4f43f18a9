#include "engine/HashWorker.h"

namespace engine {

HashWorker::HashWorker() : thread_([this] { Work(); }) {}

HashWorker::~HashWorker() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

HashWorker& HashWorker::Shared() {
    static HashWorker worker;
    return worker;
}

std::uint64_t HashWorker::Start(Sha256& hash, const void* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return hash_ == nullptr; });
    hash_ = &hash;
    data_ = data;
    size_ = size;
    const std::uint64_t ticket = ++started_;
    lock.unlock();
    changed_.notify_all();
    return ticket;
}

void HashWorker::Wait(std::uint64_t ticket) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this, ticket] { return finished_ >= ticket; });
}

// Pieces are hashed one at a time in the order they came, so a ticket is
// finished once the count of finished pieces reaches it.
void HashWorker::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return hash_ != nullptr || ending_; });
        if (hash_ == nullptr) return;
        Sha256* hash = hash_;
        const void* data = data_;
        const std::size_t size = size_;
        lock.unlock();
        hash->Update(data, size);
        lock.lock();
        hash_ = nullptr;
        ++finished_;
        changed_.notify_all();
    }
}

} // namespace engine
