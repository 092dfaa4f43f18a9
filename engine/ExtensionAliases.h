// Other spellings of the extensions the signature database knows: cameras,
// phones and people write ".jpeg", ".mpeg" or ".tiff" for the types the
// database lists as "JPG", "MPG" and "TIF". The database keeps one
// extension per type; this list maps the common long and variant forms to it.
#pragma once

#include <string>

namespace engine {

// The database's extension for a variant spelling ("JPEG" gives "JPG"), in
// upper case; empty when the extension is no known variant. The extension
// is given trimmed and in upper case.
std::string ExtensionAliasOf(const std::string& upperExtension);

} // namespace engine
