#include "platform/src/PosixIo.h"

#include <cerrno>
#include <unistd.h>

#include "platform/src/Win32Error.h"

namespace platform::detail {

std::int64_t ReadFully(int fd, std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::uint64_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (done > 0) break;
            *error = Win32ErrorFromErrno(errno, IoDirection::Read);
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::uint64_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t WriteFully(int fd, std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::uint64_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (done > 0) break;
            *error = Win32ErrorFromErrno(errno, IoDirection::Write);
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::uint64_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace platform::detail
