// The SHA-256 of each file a scan saves, taken on a second thread behind
// the scan. The scan reads each run of a file into one of a few buffers in
// turn, hands it here to be hashed and writes it while the hash runs; it
// reads the next run (and the next file) into another buffer meanwhile. A
// buffer is given out again only once its bytes are hashed, so the bytes a
// hash still needs are never overwritten, and the memory is that of the
// few buffers. The thread ends with the object, once what it was handed
// is hashed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Sha256.h"
#include "engine/WriteBehind.h"
#include "support/AlignedBytes.h"

namespace engine {

class HashBehind {
public:
    // A file's hash, whole once the pieces handed over up to ticket are hashed.
    struct PendingDigest {
        std::shared_ptr<Sha256> hash;
        std::uint64_t ticket = 0;
    };

    static constexpr std::size_t DefaultBuffers = 3;
    explicit HashBehind(std::size_t buffers = DefaultBuffers);
    HashBehind(const HashBehind&) = delete;
    HashBehind& operator=(const HashBehind&) = delete;

    // Starts the hash of the next file; the pieces handed over from now on
    // are its bytes.
    void StartFile();
    // The next buffer in turn, once the bytes it held are hashed. Its size
    // is what it was last; the caller may resize it until it hands it over.
    support::AlignedBytes& NextBuffer();
    // Hashes the first count bytes of the buffer NextBuffer gave last, in
    // order after the file's pieces before; the buffer must not change
    // until NextBuffer gives it out again.
    void HashBuffer(std::size_t count);
    // The hash of the file started last, as far as it was handed over.
    PendingDigest FileDigest() const { return {file_, fileTicket_}; }
    // The digest in hex, once its pieces are hashed (waits for them). Once
    // per file.
    std::string Digest(const PendingDigest& pending);

private:
    std::vector<support::AlignedBytes> buffers_;
    std::vector<std::uint64_t> hashedBy_; // per buffer: the ticket of its last piece
    std::size_t current_ = 0;
    std::shared_ptr<Sha256> file_;
    std::uint64_t fileTicket_ = 0;
    // Last, so that it ends first: the pieces it still holds refer to the buffers.
    WriteBehind pieces_;
};

} // namespace engine
