// The wildcard patterns of the standard-name lists: ? one character, * any
// run (also empty), # one digit, [set] one character of the set ([a-z]
// ranges, [!set] negated). Everything else matches itself, case-sensitive.
#pragma once

#include <string>

namespace engine {

bool MatchesNamePattern(const std::u32string& text, const std::u32string& pattern);
// UTF-8 convenience.
bool MatchesNamePattern(const std::string& text, const std::string& pattern);

} // namespace engine
