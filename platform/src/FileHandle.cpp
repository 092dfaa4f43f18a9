#include "platform/src/FileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileapi.h"
#include "platform/src/PosixIo.h"
#include "platform/src/Win32Error.h"

namespace platform::detail {

namespace {

class FileObject : public KernelObject {
public:
    FileObject(int fd, bool read, bool write, std::unique_ptr<ShareClaim> claim)
        : fd_(fd), read_(read), write_(write), claim_(std::move(claim)) {}
    ~FileObject() override { ::close(fd_); }

    BOOL Read(void* buffer, DWORD count, DWORD* done) override {
        if (!read_) return Fail(ERROR_ACCESS_DENIED);
        DWORD error = 0;
        std::int64_t n = ReadFully(fd_, position, buffer, count, &error);
        if (n < 0) return Fail(error);
        position += static_cast<std::uint64_t>(n);
        *done = static_cast<DWORD>(n);
        return TRUE;
    }

    BOOL Write(const void* buffer, DWORD count, DWORD* done) override {
        if (!write_) return Fail(ERROR_ACCESS_DENIED);
        DWORD error = 0;
        std::int64_t n = WriteFully(fd_, position, buffer, count, &error);
        if (n < 0) return Fail(error);
        position += static_cast<std::uint64_t>(n);
        *done = static_cast<DWORD>(n);
        return TRUE;
    }

    bool Size(std::uint64_t* size, DWORD* error) override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0) {
            *error = Win32ErrorFromErrno(errno);
            return false;
        }
        *size = static_cast<std::uint64_t>(info.st_size);
        return true;
    }

private:
    static BOOL Fail(DWORD error) {
        SetLastError(error);
        return FALSE;
    }

    int fd_;
    bool read_;
    bool write_;
    std::unique_ptr<ShareClaim> claim_;
};

// ENOENT for a file whose folder is missing is "path not found", as Windows says.
DWORD OpenError(int e, const std::string& path) {
    if (e == ENOENT) {
        std::error_code ec;
        std::filesystem::path parent = std::filesystem::path(path).parent_path();
        if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) return ERROR_PATH_NOT_FOUND;
    }
    return Win32ErrorFromErrno(e);
}

int OpenFlags(bool read, bool write, DWORD disposition) {
    int flags = O_CLOEXEC;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: return flags | O_CREAT | O_EXCL;
    case CREATE_ALWAYS: return flags | O_CREAT | O_TRUNC;
    case OPEN_ALWAYS: return flags | O_CREAT;
    case TRUNCATE_EXISTING: return flags | O_TRUNC;
    default: return flags; // OPEN_EXISTING
    }
}

} // namespace

std::shared_ptr<KernelObject> OpenFileObject(const std::string& path, DWORD access, DWORD shareMode,
                                             DWORD disposition) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool read = (access & GENERIC_READ) != 0;
    bool write = (access & GENERIC_WRITE) != 0;

    struct stat before {};
    bool existed = ::stat(path.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (existed && disposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return nullptr;
    }

    // The share check comes before anything that changes the file, so that
    // a refused CREATE_ALWAYS does not truncate a file another handle uses.
    std::unique_ptr<ShareClaim> claim;
    std::string key;
    if (existed) {
        key = "file:" + std::to_string(before.st_dev) + ":" + std::to_string(before.st_ino);
        if (!ClaimShareAccess(key, read, write, shareMode, &claim)) return nullptr;
    }

    int fd = ::open(path.c_str(), OpenFlags(read, write, disposition), 0666);
    if (fd < 0) {
        SetLastError(OpenError(errno, path));
        return nullptr;
    }
    if (!existed) {
        struct stat created {};
        if (::fstat(fd, &created) == 0) {
            key = "file:" + std::to_string(created.st_dev) + ":" + std::to_string(created.st_ino);
            if (!ClaimShareAccess(key, read, write, shareMode, &claim)) {
                ::close(fd);
                return nullptr;
            }
        }
    }
    bool reportsExisting = existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return std::make_shared<FileObject>(fd, read, write, std::move(claim));
}

} // namespace platform::detail
