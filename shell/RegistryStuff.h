// Reading and writing registry values by key path text, such as
// "HKEY_LOCAL_MACHINE\SOFTWARE\Quillmarsh\Calvesse 4.0 - PE" (registry paths
// keep the backslash). The module remembers the last key it opened and the
// status code of its last registry call.
#pragma once

#include <optional>
#include <string>

#include "platform/registry.h"

namespace shell {

// The readers' failure sentinel; callers compare with it exactly.
inline constexpr const char* RegistryError = "Error";

// Splits "ROOT\sub\key" at its first backslash: rootKey from the left part,
// keyPath becomes the rest (a path without a backslash is a root name
// alone). A path that does not begin with "HKEY_" or that ends in "\" shows
// the "Incorrect Format:" box and gives rootKey null.
void ParseKeyPath(std::string& keyPath, HKEY& rootKey);

// The predefined handle of one of the seven root names; null otherwise.
HKEY RootKeyFromName(const std::string& rootName);

// A string value (at most 255 characters, trimmed, without its terminating
// NUL), or "Error" when the key cannot be opened or the value not read.
std::string RegGetString(const std::string& keyPath, const std::string& valueName);

// A 32-bit value, or nullopt for "Error".
std::optional<DWORD> RegGetDword(const std::string& keyPath, const std::string& valueName);

// Stores a REG_SZ value (with its terminating NUL, as Windows writers do)
// in an existing key; the key is never created. The status code of the last
// registry call (ERROR_SUCCESS when stored).
LONG RegSetString(const std::string& keyPath, const std::string& valueName, const std::string& data);

struct RegValue {
    LONG status = ERROR_SUCCESS; // -1 for a value of another type
    DWORD type = REG_NONE;
    std::string text;            // string values, as stored (NUL included)
    DWORD number = 0;            // 32-bit values
};

// Reads a value of an open key: string values up to maxBytes bytes (longer
// ones are cut), 32-bit values as a number; other types give status -1.
RegValue RegQueryValue(HKEY key, const std::string& valueName, DWORD maxBytes = 255);

// The module's state after its last call.
LONG LastRegistryStatus();
HKEY LastOpenedKey();

} // namespace shell
