// A volume opened through "\\.\X:". Reads and writes go to the backend at
// the volume's offset and stay within its length: a transfer that runs past
// the end is cut short (TRUE with fewer bytes, as Windows does for files),
// and one that starts at or beyond the end fails with ERROR_SECTOR_NOT_FOUND.
#pragma once

#include <memory>

#include "platform/src/DriveNamespace.h"
#include "platform/src/HandleTable.h"

namespace platform::detail {

// Opens the volume of a letter. Desired access 0 opens for the geometry
// query only. Writing is refused with ERROR_ACCESS_DENIED for fixed drives,
// ERROR_WRITE_PROTECT for CD-ROM drives, ERROR_SHARING_VIOLATION when the
// device is in use (mounted) or another handle does not share it.
std::shared_ptr<KernelObject> OpenVolumeObject(char letter, DWORD access, DWORD shareMode);

} // namespace platform::detail
