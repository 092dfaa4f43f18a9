// Whole transfers over pread/pwrite: they go on after a signal and after a
// partial transfer, and stop at the end of the file or at the first error.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

namespace platform::detail {

// The bytes moved (short only at the end of the file or when an error came
// after some bytes), or -1 with *error when nothing could be moved.
std::int64_t ReadFully(int fd, std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error);
std::int64_t WriteFully(int fd, std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error);

} // namespace platform::detail
