// Small file-system helpers shared by the subsystems.
#pragma once

#include <cstdio>
#include <string>

#include "support/Truth.h"

namespace engine {

// Reads one line of a file opened in binary mode; at position 0 it looks for
// the UTF-16 LE mark FF FE and sets isUnicode. CR ends a line, LF is dropped.
// One-byte text is taken as Windows-1252; the line comes back as UTF-8.
// A lone UTF-16 surrogate becomes U+FFFD. Past the end: an empty line.
std::string ReadTextLine(std::FILE* file, bool& isUnicode);
// True when no byte is left to read (the position is kept).
bool EndOfTextFile(std::FILE* file);
// A regular file (not a folder), after StripQuotes.
support::Truth FileExists(const std::string& path);
// Trims blanks; then removes a double quote at both ends.
std::string StripQuotes(const std::string& text);
// The shell's special folder (CSIDL_PERSONAL: documents); "" on failure.
std::string GetSpecialFolderPath(int folder);
// "C:\" NUL "D:\" NUL ... NUL: each root four characters apart, and one
// more NUL that ends the list (empty on failure).
std::string GetLogicalDriveList();
// root "G:" (or "G:\"): total bytes as decimal text; "0" without media.
std::string DiskCapacity(const std::string& root);
// Free bytes available to the caller, for a root or any folder (a folder
// that does not exist yet is measured at its nearest existing parent);
// 0 on failure.
double DiskFreeSpace(const std::string& root);

} // namespace engine
