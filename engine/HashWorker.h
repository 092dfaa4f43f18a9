// A second thread that hashes bytes while the caller's thread does
// something else with the same bytes, such as writing them: a saved file's
// bytes then cost the slower of the write and the hash, not both. The
// caller hands over one piece at a time and waits for it before the bytes
// or the hash change. The pieces run as tasks of a write-behind queue.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/Sha256.h"
#include "engine/WriteBehind.h"

namespace engine {

class HashWorker {
public:
    HashWorker() = default;
    HashWorker(const HashWorker&) = delete;
    HashWorker& operator=(const HashWorker&) = delete;

    // The worker the saving of files shares; started on first use.
    static HashWorker& Shared();

    // Starts hashing size bytes at data into hash. Until Wait(ticket)
    // returns, the bytes must stay as they are and hash must not be used.
    // Waits first while another caller's piece waits to be hashed.
    std::uint64_t Start(Sha256& hash, const void* data, std::size_t size);
    // Returns once the piece of that ticket is hashed.
    void Wait(std::uint64_t ticket) { pieces_.Wait(ticket); }

private:
    WriteBehind pieces_{1}; // one piece waits at most; its destructor hashes what was handed over
};

} // namespace engine
