#include "tests/common/SparseImage.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace testcommon {

void SparseImage::Write(std::uint64_t offset, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (offset >= size_) return;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    while (count > 0) {
        const std::uint64_t chunk = offset / ChunkSize;
        const std::size_t within = static_cast<std::size_t>(offset % ChunkSize);
        const std::size_t n = std::min<std::size_t>(count, ChunkSize - within);
        auto& storage = chunks_[chunk];
        if (storage.empty()) storage.assign(ChunkSize, 0);
        std::memcpy(storage.data() + within, bytes, n);
        bytes += n;
        offset += n;
        count -= n;
    }
}

void SparseImage::Read(std::uint64_t offset, void* data, std::size_t count) const {
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (count > 0) {
        const std::uint64_t chunk = offset / ChunkSize;
        const std::size_t within = static_cast<std::size_t>(offset % ChunkSize);
        const std::size_t n = std::min<std::size_t>(count, ChunkSize - within);
        auto it = chunks_.find(chunk);
        if (it == chunks_.end() || offset >= size_) {
            std::memset(bytes, 0, n);
        } else {
            std::memcpy(bytes, it->second.data() + within, n);
        }
        bytes += n;
        offset += n;
        count -= n;
    }
}

void SparseImage::Fill(std::uint64_t offset, std::uint8_t value, std::uint64_t count) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::uint64_t>(count, ChunkSize)), value);
    while (count > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, block.size()));
        Write(offset, block.data(), n);
        offset += n;
        count -= n;
    }
}

std::vector<std::uint8_t> SparseImage::Read(std::uint64_t offset, std::size_t count) const {
    std::vector<std::uint8_t> out(count);
    Read(offset, out.data(), count);
    return out;
}

std::uint8_t SparseImage::ByteAt(std::uint64_t offset) const {
    std::uint8_t b = 0;
    Read(offset, &b, 1);
    return b;
}

std::vector<std::uint8_t> SparseImage::Bytes() const { return Read(0, static_cast<std::size_t>(size_)); }

void SparseImage::WriteFile(const std::string& path) const {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    bool ok = ::ftruncate(fd, static_cast<off_t>(size_)) == 0;
    std::vector<std::uint64_t> order;
    order.reserve(chunks_.size());
    for (const auto& [chunk, storage] : chunks_) order.push_back(chunk);
    std::sort(order.begin(), order.end());
    for (std::uint64_t chunk : order) {
        if (!ok) break;
        const std::uint64_t offset = chunk * ChunkSize;
        if (offset >= size_) continue;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(ChunkSize, size_ - offset));
        ok = ::pwrite(fd, chunks_.at(chunk).data(), n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
    }
    ok = (::close(fd) == 0) && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

SparseVolume::SparseVolume(std::shared_ptr<const SparseImage> image, std::uint32_t bytesPerSector,
                           std::uint64_t offset, std::uint64_t length)
    : image_(std::move(image)), bytesPerSector_(bytesPerSector), offset_(offset),
      length_(length ? length : image_->Size() - offset) {}

std::int64_t SparseVolume::Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) {
    const std::uint64_t first = offset / bytesPerSector_;
    const std::uint64_t end = (offset + count + bytesPerSector_ - 1) / bytesPerSector_;
    reads.push_back({first, end - first});
    for (std::uint64_t s = first; s < end; ++s) {
        if (failingSectors.count(s) && failuresLeft != 0) {
            if (failuresLeft > 0) --failuresLeft;
            if (error) *error = ERROR_READ_FAULT;
            return -1;
        }
    }
    if (offset >= length_) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(count, length_ - offset);
    image_->Read(offset_ + offset, buffer, static_cast<std::size_t>(n));
    return static_cast<std::int64_t>(n);
}

std::int64_t SparseVolume::Write(std::uint64_t, const void*, std::uint32_t, DWORD* error) {
    ++writes;
    if (error) *error = ERROR_WRITE_PROTECT;
    return -1;
}

bool SparseVolume::BeginWrite(DWORD* error) {
    ++writes;
    if (error) *error = ERROR_WRITE_PROTECT;
    return false;
}

} // namespace testcommon
