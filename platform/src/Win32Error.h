// Translation of Linux errno values into the Win32 error codes that
// GetLastError reports.
#pragma once

#include "platform/wintypes.h"

namespace platform::detail {

enum class IoDirection { None, Read, Write };

// The Win32 code for errno value e; an I/O error maps to the read or write
// fault code of the direction given.
DWORD Win32ErrorFromErrno(int e, IoDirection direction = IoDirection::None);

} // namespace platform::detail
