#include "platform/src/ImageVolume.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/src/BlockDevice.h"
#include "platform/src/PosixIo.h"
#include "platform/src/Win32Error.h"

namespace platform::detail {

namespace {

// What kind of file mode is, for a refusal that says why.
const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISDIR(mode)) return "a folder";
    return "not a regular file";
}

bool IsImageKind(mode_t mode) { return S_ISREG(mode) || S_ISBLK(mode); }

std::string Refusal(mode_t mode) {
    return std::string("it is ") + KindOf(mode) + ", not an image file or a block device";
}

} // namespace

std::shared_ptr<ImageVolume> ImageVolume::Open(const std::string& path, std::string* error) {
    // A FIFO, socket or terminal would block open() or read() for ever:
    // look before opening, and open without waiting in case it changed.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !IsImageKind(info.st_mode)) {
        *error = Refusal(info.st_mode);
        return nullptr;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    if (::fstat(fd, &info) != 0 || !IsImageKind(info.st_mode)) {
        ::close(fd);
        *error = Refusal(info.st_mode);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto volume = std::shared_ptr<ImageVolume>(new ImageVolume(path, fd));
    volume->blockDevice_ = S_ISBLK(info.st_mode);
    return volume;
}

ImageVolume::~ImageVolume() {
    if (writeFd_ >= 0) ::close(writeFd_);
    ::close(readFd_);
}

std::uint64_t ImageVolume::Size() const {
    if (blockDevice_) {
        std::uint64_t size = 0;
        return ::ioctl(readFd_, BLKGETSIZE64, &size) == 0 ? size : 0;
    }
    struct stat info {};
    if (::fstat(readFd_, &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

std::int64_t ImageVolume::Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) {
    return ReadFully(readFd_, offset, buffer, count, error);
}

std::int64_t ImageVolume::Write(std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) {
    int fd;
    {
        std::lock_guard lock(writeMutex_);
        fd = writeFd_;
    }
    if (fd < 0) {
        *error = ERROR_ACCESS_DENIED;
        return -1;
    }
    return WriteFully(fd, offset, buffer, count, error);
}

bool ImageVolume::BeginWrite(DWORD* error) {
    std::lock_guard lock(writeMutex_);
    if (writers_ == 0) {
        // A loop device over the image is a disk in use (mounted, or about to
        // be): writing under it would corrupt its file system.
        struct stat info {};
        if (::fstat(readFd_, &info) == 0 && !LoopDevicesBacking(info.st_dev, info.st_ino).empty()) {
            *error = ERROR_SHARING_VIOLATION;
            return false;
        }
        // Never O_CREAT or O_TRUNC: the image must be there and keeps its size.
        int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            *error = Win32ErrorFromErrno(errno);
            return false;
        }
        writeFd_ = fd;
    }
    ++writers_;
    return true;
}

void ImageVolume::EndWrite() {
    std::lock_guard lock(writeMutex_);
    if (writers_ == 0) return;
    if (--writers_ == 0) {
        ::fsync(writeFd_);
        ::close(writeFd_);
        writeFd_ = -1;
    }
}

} // namespace platform::detail
