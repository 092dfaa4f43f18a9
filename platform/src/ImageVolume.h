// The backend of an attached image file: reads through a descriptor opened
// read-only when the image is attached; writes through a second descriptor
// that is opened only while a handle writes, so that reading never needs or
// takes write access to the file.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/drives.h"

namespace platform::detail {

class ImageVolume : public VolumeBackend {
public:
    // Opens path (a regular file or a block device) read-only; null with
    // *error (a message) on failure or for anything else (a FIFO, a
    // socket, a character device), which is refused without waiting.
    static std::shared_ptr<ImageVolume> Open(const std::string& path, std::string* error);
    ~ImageVolume() override;

    std::uint64_t Size() const override;
    std::uint32_t BytesPerSector() const override { return 512; }
    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override;
    std::int64_t Write(std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) override;
    bool BeginWrite(DWORD* error) override;
    void EndWrite() override;

    const std::string& Path() const { return path_; }

private:
    ImageVolume(std::string path, int readFd) : path_(std::move(path)), readFd_(readFd) {}

    std::string path_;
    int readFd_;
    bool blockDevice_ = false;
    std::mutex writeMutex_;
    int writeFd_ = -1;
    int writers_ = 0;
};

} // namespace platform::detail
