// Small text helpers the engine's messages and names share.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// Blanks off both ends (only blanks, as the name fields pad with them).
inline std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A number as the engine's messages write it: a blank before a value that
// is not negative (" 5", "-1").
inline std::string MessageNumber(std::int64_t value) { return (value >= 0 ? " " : "") + std::to_string(value); }

// The text after the last "." of the trimmed name, or "".
inline std::string GetExtension(const std::string& name) {
    const std::string trimmed = TrimBlanks(name);
    const auto dot = trimmed.rfind('.');
    return dot == std::string::npos ? "" : trimmed.substr(dot + 1);
}

} // namespace engine
