// A second thread that hashes bytes while the caller's thread does
// something else with the same bytes, such as writing them: a saved file's
// bytes then cost the slower of the write and the hash, not both. The
// caller hands over one piece at a time and waits for it before the bytes
// or the hash change.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/Sha256.h"

namespace engine {

class HashWorker {
public:
    HashWorker();
    // Waits for the piece being hashed, then ends the thread.
    ~HashWorker();
    HashWorker(const HashWorker&) = delete;
    HashWorker& operator=(const HashWorker&) = delete;

    // The worker the saving of files shares; started on first use.
    static HashWorker& Shared();

    // Starts hashing size bytes at data into hash. Until Wait(ticket)
    // returns, the bytes must stay as they are and hash must not be used.
    // Waits first while another caller's piece is being hashed.
    std::uint64_t Start(Sha256& hash, const void* data, std::size_t size);
    // Returns once the piece of that ticket is hashed.
    void Wait(std::uint64_t ticket);

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    Sha256* hash_ = nullptr; // the piece waiting or being hashed; null when none
    const void* data_ = nullptr;
    std::size_t size_ = 0;
    std::uint64_t started_ = 0;
    std::uint64_t finished_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace engine
