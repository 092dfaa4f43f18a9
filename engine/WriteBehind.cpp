#include "engine/WriteBehind.h"

#include <algorithm>
#include <utility>

namespace engine {

WriteBehind::WriteBehind(std::size_t maxQueued)
    : maxQueued_(std::max<std::size_t>(1, maxQueued)), thread_([this] { Work(); }) {}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::uint64_t WriteBehind::Post(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < maxQueued_; });
    queue_.push_back(std::move(task));
    const std::uint64_t ticket = ++posted_;
    lock.unlock();
    changed_.notify_all();
    return ticket;
}

bool WriteBehind::Done(std::uint64_t ticket) {
    std::lock_guard lock(mutex_);
    return finished_ >= ticket;
}

void WriteBehind::Wait(std::uint64_t ticket) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this, ticket] { return finished_ >= ticket; });
}

// Every task posted runs, also when the thread is asked to end: a file
// handed over is always closed.
void WriteBehind::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || ending_; });
        if (queue_.empty()) return;
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all(); // room in the queue
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        ++finished_;
        changed_.notify_all();
    }
}

} // namespace engine
