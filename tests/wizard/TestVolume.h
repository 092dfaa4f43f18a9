// A drive for the deep-scan tests: bytes in memory, reads that fail at the
// sectors a test names, and a log of every read.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "platform/drives.h"

namespace wizardtest {

class MemoryVolume : public platform::VolumeBackend {
public:
    MemoryVolume(std::vector<std::uint8_t> bytes, std::uint32_t bytesPerSector)
        : bytes_(std::move(bytes)), bytesPerSector_(bytesPerSector) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint32_t BytesPerSector() const override { return bytesPerSector_; }

    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override {
        reads.push_back({offset / bytesPerSector_, count / bytesPerSector_});
        for (std::uint64_t s = offset / bytesPerSector_; s * bytesPerSector_ < offset + count; ++s) {
            if (failingSectors.count(s)) {
                if (error) *error = ERROR_READ_FAULT;
                return -1;
            }
        }
        if (offset >= bytes_.size()) return 0;
        const std::uint64_t n = std::min<std::uint64_t>(count, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<std::int64_t>(n);
    }
    std::int64_t Write(std::uint64_t, const void*, std::uint32_t, DWORD* error) override {
        ++writes;
        if (error) *error = ERROR_WRITE_PROTECT;
        return -1;
    }
    bool BeginWrite(DWORD* error) override {
        if (error) *error = ERROR_WRITE_PROTECT;
        return false;
    }
    void EndWrite() override {}

    struct ReadCall {
        std::uint64_t sector;
        std::uint64_t sectors;
    };
    std::vector<ReadCall> reads;
    std::set<std::uint64_t> failingSectors;
    int writes = 0;

private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t bytesPerSector_;
};

} // namespace wizardtest
