// An ordinary file opened through CreateFileA or OpenFile.
#pragma once

#include <memory>
#include <string>

#include "platform/src/HandleTable.h"
#include "platform/src/ShareAccess.h"

namespace platform::detail {

// Opens path with the Win32 access, share mode and disposition; null with
// SetLastError on failure. On success with OPEN_ALWAYS or CREATE_ALWAYS over
// an existing file, GetLastError is ERROR_ALREADY_EXISTS, else 0.
std::shared_ptr<KernelObject> OpenFileObject(const std::string& path, DWORD access, DWORD shareMode,
                                             DWORD disposition);

} // namespace platform::detail
