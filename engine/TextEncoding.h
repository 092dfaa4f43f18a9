// The encodings of names on a card: short names are bytes of the Windows
// ANSI code page (1252), long names UTF-16 units. The program's texts are
// UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

// Each byte as its Windows-1252 character (0xE5 becomes U+00E5, code 229;
// the five undefined bytes keep their own code).
std::string Utf8FromCp1252(const std::uint8_t* bytes, std::size_t count);
// UTF-16 units up to count (surrogate pairs joined, a lone surrogate becomes
// U+FFFD).
std::string Utf8FromUtf16Units(const char16_t* units, std::size_t count);
// Code points of a UTF-8 text (a malformed byte becomes U+FFFD) and back.
std::u32string CodePointsOf(const std::string& text);
std::string Utf8FromCodePoints(const std::u32string& text);

} // namespace engine
