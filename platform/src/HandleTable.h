// The process-wide table of open kernel objects behind HANDLE values. A
// handle is a small positive integer cast to a pointer (never 0 or -1), so
// that a 16-bit era HFILE converts back with HandleFromHfile.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/wintypes.h"

namespace platform::detail {

// An open file or volume. The position is the byte offset of the next read
// or write, as SetFilePointer moves it.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Both return FALSE with SetLastError on failure.
    virtual BOOL Read(void* buffer, DWORD count, DWORD* done) = 0;
    virtual BOOL Write(const void* buffer, DWORD count, DWORD* done) = 0;
    // The size that FILE_END counts from; false with *error on failure.
    virtual bool Size(std::uint64_t* size, DWORD* error) = 0;
    virtual BOOL Control(DWORD code, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize,
                         DWORD* bytesReturned);

    std::uint64_t position = 0;
};

// Registers an object; INVALID_HANDLE_VALUE (with ERROR_TOO_MANY_OPEN_FILES)
// only when every handle value is taken.
HANDLE RegisterObject(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null.
std::shared_ptr<KernelObject> LookupObject(HANDLE handle);
// Removes the handle; the object closes when its last user lets go.
bool UnregisterObject(HANDLE handle);
// The number of open handles (tests).
std::size_t OpenHandleCount();

} // namespace platform::detail
