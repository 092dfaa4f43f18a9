// The buffers the deep scan reads the drive into, one block at a time. A
// block stays in use as long as anyone holds it: the scan while it examines
// the block, the writer's and the hash's threads while they still work on a
// carved file's bytes in it. So the bytes go to disk and into the digest
// straight from where they were read, never copied, while the scan reads
// the next blocks. The pool makes at most a fixed number of blocks; Take
// waits for one to come back.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/oleauto.h"
#include "support/AlignedBytes.h"

namespace wizard {

struct ScanBlock {
    explicit ScanBlock(std::size_t bytes);
    ScanBlock(const ScanBlock&) = delete;
    ScanBlock& operator=(const ScanBlock&) = delete;

    support::AlignedBytes bytes;
    platform::BorrowedByteArray array; // the bytes as the library's array
    VARIANT variant;                   // the array, by reference: the library reads it in place
};

class ScanBlocks {
public:
    // blockBytes: the size of every block; count: how many may exist (at
    // least two: the one examined and the next one read).
    ScanBlocks(std::size_t blockBytes, std::size_t count);
    ~ScanBlocks();
    ScanBlocks(const ScanBlocks&) = delete;
    ScanBlocks& operator=(const ScanBlocks&) = delete;

    // A block nobody holds (made on first use), waiting while all are held.
    // It comes back when the last copy of the pointer goes; the pool must
    // outlive them all.
    std::shared_ptr<ScanBlock> Take();

private:
    void GiveBack(ScanBlock* block);

    std::size_t blockBytes_;
    std::size_t count_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<ScanBlock>> free_;
    std::size_t made_ = 0;
};

} // namespace wizard
