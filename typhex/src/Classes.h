// The class factories' constructors: build one object of a class and query
// it for riid (E_OUTOFMEMORY when memory cannot be had).
#pragma once

#include "Typhex.h"

namespace typhex {

HRESULT CreateByteValue(REFIID riid, void** object);
HRESULT CreateFileContent(REFIID riid, void** object);
HRESULT CreateFileSignature(REFIID riid, void** object);
HRESULT CreateSupportedFileType(REFIID riid, void** object);
HRESULT CreateSupportedFileTypes(REFIID riid, void** object);
HRESULT CreateExtraLong(REFIID riid, void** object);
HRESULT CreateLargeFile(REFIID riid, void** object);

} // namespace typhex
