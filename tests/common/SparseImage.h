// The bytes of a disk image held sparsely: only the 64 KiB chunks that were
// written take memory, everything else reads as zeros. Lets tests and the
// benchmark build cards of many gigabytes without the memory or disk space.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/drives.h"

namespace testcommon {

class SparseImage {
public:
    explicit SparseImage(std::uint64_t size = 0) : size_(size) {}

    std::uint64_t Size() const { return size_; }
    void Resize(std::uint64_t size) { size_ = size; }

    // Bytes beyond Size() are not written / read as zeros.
    void Write(std::uint64_t offset, const void* data, std::size_t count);
    void Read(std::uint64_t offset, void* data, std::size_t count) const;
    void Fill(std::uint64_t offset, std::uint8_t value, std::uint64_t count);
    std::vector<std::uint8_t> Read(std::uint64_t offset, std::size_t count) const;
    std::uint8_t ByteAt(std::uint64_t offset) const;
    void SetByte(std::uint64_t offset, std::uint8_t value) { Write(offset, &value, 1); }

    // The whole image as one buffer (small images only).
    std::vector<std::uint8_t> Bytes() const;
    // Writes a sparse file of Size() bytes: unwritten chunks become holes.
    // Throws std::runtime_error on failure.
    void WriteFile(const std::string& path) const;

private:
    static constexpr std::uint64_t ChunkSize = 64 * 1024;
    std::uint64_t size_;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> chunks_;
};

// A removable volume over a SparseImage, for platform::AttachVolume: reports
// the sector size it is given, logs every read, and fails reads that touch
// the sectors a test names.
class SparseVolume : public platform::VolumeBackend {
public:
    SparseVolume(std::shared_ptr<const SparseImage> image, std::uint32_t bytesPerSector,
                 std::uint64_t offset = 0, std::uint64_t length = 0);

    std::uint64_t Size() const override { return length_; }
    std::uint32_t BytesPerSector() const override { return bytesPerSector_; }
    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override;
    std::int64_t Write(std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) override;
    bool BeginWrite(DWORD* error) override;
    void EndWrite() override {}

    struct ReadCall {
        std::uint64_t sector;   // first sector
        std::uint64_t sectors;  // count (rounded up)
    };
    std::vector<ReadCall> reads;
    std::set<std::uint64_t> failingSectors;
    long failuresLeft = -1;  // -1: failing sectors fail forever; n: only the next n failing reads fail
    int writes = 0;

private:
    std::shared_ptr<const SparseImage> image_;
    std::uint32_t bytesPerSector_;
    std::uint64_t offset_;
    std::uint64_t length_;
};

} // namespace testcommon
