#include "wizard/ScanBlocks.h"

#include <algorithm>

namespace wizard {

ScanBlock::ScanBlock(std::size_t size)
    : bytes(size, 0), array(bytes.data(), static_cast<ULONG>(bytes.size())), variant(array.ByRefVariant()) {}

ScanBlocks::ScanBlocks(std::size_t blockBytes, std::size_t count)
    : blockBytes_(blockBytes), count_(std::max<std::size_t>(2, count)) {
    free_.reserve(count_); // a block given back never needs memory
}

ScanBlocks::~ScanBlocks() = default;

std::shared_ptr<ScanBlock> ScanBlocks::Take() {
    std::unique_ptr<ScanBlock> block;
    {
        std::unique_lock lock(mutex_);
        returned_.wait(lock, [this] { return !free_.empty() || made_ < count_; });
        if (!free_.empty()) {
            block = std::move(free_.back());
            free_.pop_back();
        } else {
            ++made_;
        }
    }
    if (!block) {
        try {
            block = std::make_unique<ScanBlock>(blockBytes_);
        } catch (...) {
            std::lock_guard lock(mutex_);
            --made_;
            throw;
        }
    }
    return std::shared_ptr<ScanBlock>(block.release(), [this](ScanBlock* held) { GiveBack(held); });
}

void ScanBlocks::GiveBack(ScanBlock* block) {
    {
        std::lock_guard lock(mutex_);
        free_.emplace_back(block);
    }
    returned_.notify_one();
}

} // namespace wizard
