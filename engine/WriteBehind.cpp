#include "engine/WriteBehind.h"

#include <utility>

namespace engine {

WriteBehind::WriteBehind() : thread_([this] { Work(); }) {}

WriteBehind::~WriteBehind() {
    Wait();
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::vector<BYTE> WriteBehind::TakeBuffer() {
    std::lock_guard lock(mutex_);
    std::vector<BYTE> buffer = std::move(spare_);
    spare_ = {};
    buffer.clear();
    return buffer;
}

void WriteBehind::Hand(NewOutputFile& output, std::vector<BYTE> bytes) {
    const bool before = Wait();
    std::unique_lock lock(mutex_);
    // A failure of the piece before is not lost by starting this one.
    written_ = before;
    output_ = &output;
    bytes_ = std::move(bytes);
    lock.unlock();
    changed_.notify_all();
}

bool WriteBehind::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return output_ == nullptr; });
    const bool written = written_;
    written_ = true;
    return written;
}

void WriteBehind::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return output_ != nullptr || ending_; });
        if (output_ == nullptr) return;
        NewOutputFile* output = output_;
        std::vector<BYTE> bytes = std::move(bytes_);
        lock.unlock();
        const bool written =
            bytes.empty() || output->Write(bytes.data(), bytes.size(), 0, static_cast<std::int32_t>(bytes.size()));
        lock.lock();
        written_ = written_ && written;
        spare_ = std::move(bytes);
        output_ = nullptr;
        changed_.notify_all();
    }
}

} // namespace engine
