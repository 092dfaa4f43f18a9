// A volume held in memory, attached as a removable drive, for tests that need
// a device which refuses writes, fails half-way or is larger than it stores.
#pragma once

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/drives.h"
#include "platform/fileapi.h"

namespace testing_tools {

class MemoryVolume : public platform::VolumeBackend {
public:
    // size: the volume's length; only the first stored bytes are kept, the
    // rest reads as zeros and absorbs writes (for very large volumes).
    MemoryVolume(std::uint64_t size, std::uint32_t bytesPerSector = 512, std::uint64_t stored = 0)
        : size_(size), bytesPerSector_(bytesPerSector), bytes_(stored ? stored : size) {}

    std::uint64_t Size() const override { return size_; }
    std::uint32_t BytesPerSector() const override { return bytesPerSector_; }

    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override {
        ++reads;
        InterruptAt(offset);
        if (failReadsFrom && offset + count > *failReadsFrom) {
            if (error) *error = ERROR_READ_FAULT;
            return -1;
        }
        if (offset >= size_) return 0;
        std::uint64_t n = std::min<std::uint64_t>(count, size_ - offset);
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::memset(out, 0, n);
        if (offset < bytes_.size()) {
            std::uint64_t kept = std::min<std::uint64_t>(n, bytes_.size() - offset);
            std::memcpy(out, bytes_.data() + offset, kept);
        }
        return static_cast<std::int64_t>(n);
    }

    std::int64_t Write(std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) override {
        ++writes;
        InterruptAt(offset);
        lastWriteOffset = offset;
        lastWriteCount = count;
        std::uint64_t n = std::min<std::uint64_t>(count, offset < size_ ? size_ - offset : 0);
        if (failWritesFrom && offset + n > *failWritesFrom) {
            if (offset >= *failWritesFrom) {
                if (error) *error = ERROR_WRITE_FAULT;
                return -1;
            }
            n = *failWritesFrom - offset; // a short write up to the failing byte
        }
        const auto* in = static_cast<const std::uint8_t*>(buffer);
        if (offset < bytes_.size()) {
            std::uint64_t kept = std::min<std::uint64_t>(n, bytes_.size() - offset);
            std::memcpy(bytes_.data() + offset, in, kept);
        }
        return static_cast<std::int64_t>(n);
    }

    bool BeginWrite(DWORD* error) override {
        if (refuseWrites) {
            if (error) *error = ERROR_SHARING_VIOLATION;
            return false;
        }
        ++writeSessions;
        return true;
    }
    void EndWrite() override {}

    std::vector<std::uint8_t>& Bytes() { return bytes_; }

    // Ctrl-C (SIGINT raised in this process) at the first transfer from
    // this offset on.
    std::optional<std::uint64_t> interruptFrom;
    std::optional<std::uint64_t> failReadsFrom;
    std::optional<std::uint64_t> failWritesFrom;
    bool refuseWrites = false;
    int reads = 0;
    int writes = 0;
    int writeSessions = 0;
    std::uint64_t lastWriteOffset = 0;
    std::uint32_t lastWriteCount = 0;

private:
    void InterruptAt(std::uint64_t offset) {
        if (!interruptFrom || offset < *interruptFrom) return;
        interruptFrom.reset();
        std::raise(SIGINT);
    }

    std::uint64_t size_;
    std::uint32_t bytesPerSector_;
    std::vector<std::uint8_t> bytes_;
};

} // namespace testing_tools
