// A thread of its own that does the writing or hashing of saved files
// behind the caller: the caller posts tasks (write this piece, hash that
// one, close the file), goes on with reading and examining what comes
// next, and looks at their outcome once it needs it. Tasks run one at a time in the order posted.
// What a task works on is the task's until it is done: the caller touches
// it only after Wait or Done says so. The tasks touch nothing else.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace engine {

class WriteBehind {
public:
    // maxQueued: how many tasks may wait to run before Post waits (each
    // holds its piece's bytes: this bounds the memory).
    explicit WriteBehind(std::size_t maxQueued = 2);
    // Runs what was posted, then ends the thread.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Queues task after those posted before (waiting first while the queue
    // is full) and returns its ticket.
    std::uint64_t Post(std::function<void()> task);
    // True once the task of that ticket (and every one before it) has run.
    bool Done(std::uint64_t ticket);
    void Wait(std::uint64_t ticket);

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    std::size_t maxQueued_;
    std::uint64_t posted_ = 0;
    std::uint64_t finished_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace engine
