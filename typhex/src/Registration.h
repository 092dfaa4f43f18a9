// Writes and removes the library's registry entries.
#pragma once

#include <string>

#include "Typhex.h"

namespace typhex {

// libraryPath: the full path of the library file, for InprocServer32.
HRESULT RegisterLibrary(const std::string& libraryPath);
HRESULT UnregisterLibrary();

} // namespace typhex
