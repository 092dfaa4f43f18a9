// Small file-system helpers shared by the subsystems.
#pragma once

#include <cstdio>
#include <string>

#include "support/Truth.h"

namespace engine {

// Reads one line of a file opened in binary mode; at position 0 it looks for
// the UTF-16 LE mark FF FE and sets isUnicode. CR ends a line, LF is dropped.
// One-byte text is taken as Windows-1252; the line comes back as UTF-8.
std::string ReadTextLine(std::FILE* file, bool& isUnicode);
support::Truth FileExists(const std::string& path);
std::string StripQuotes(const std::string& text);
std::string GetSpecialFolderPath(int folder);
// "C:\" NUL "D:\" NUL ... (empty on failure).
std::string GetLogicalDriveList();
// root "G:" (or "G:\"): total bytes as decimal text; "0" without media.
std::string DiskCapacity(const std::string& root);
// Free bytes available to the caller, for a root or any folder; 0 on failure.
double DiskFreeSpace(const std::string& root);

} // namespace engine
