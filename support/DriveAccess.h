// Whether a drive can be opened, asked once before a run, so that a drive the
// user may not open gives one clear message instead of one per read.
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace support {

// Why the open of a drive failed, in a sentence for the user, from the error
// of the failed open: "access to /dev/sdb was refused", "D: is in use (its
// file system is mounted); unmount it first", ...
std::string DriveOpenProblem(char letter, DWORD error);

// Opens the drive as a scan or a device tool would (reading; or writing,
// exclusively) and closes it again. Empty when that works, else the problem.
// Through udisks2 this is where the desktop asks for the password.
std::string DriveAccessProblem(char letter, bool forWrite);

} // namespace support
