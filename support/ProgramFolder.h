// The program folder: where the executable, the library and the data files
// (settings.zq4, the name lists, Language/, Images/) live side by side.
#pragma once

#include <string>

namespace support {

// The folder of the running executable, without a trailing "/";
// TRANQUO_PROGRAM_DIR overrides it (tests run from their own folder).
std::string ProgramFolder();

} // namespace support
