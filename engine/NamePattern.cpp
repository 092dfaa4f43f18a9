#include "engine/NamePattern.h"

#include <vector>

#include "engine/TextEncoding.h"

namespace engine {

namespace {

// Matches one bracketed set starting at pattern[at] == '['; sets end to the
// position after ']' and reports whether c is in the set. An unclosed '['
// matches itself.
bool MatchSet(const std::u32string& pattern, std::size_t at, char32_t c, std::size_t* end, bool* closed) {
    std::size_t i = at + 1;
    bool negate = false;
    if (i < pattern.size() && pattern[i] == U'!') {
        negate = true;
        ++i;
    }
    bool found = false;
    while (i < pattern.size() && pattern[i] != U']') {
        if (i + 2 < pattern.size() && pattern[i + 1] == U'-' && pattern[i + 2] != U']') {
            if (c >= pattern[i] && c <= pattern[i + 2]) found = true;
            i += 3;
        } else {
            if (c == pattern[i]) found = true;
            ++i;
        }
    }
    if (i >= pattern.size()) {
        *closed = false;
        return false;
    }
    *closed = true;
    *end = i + 1;
    return found != negate;
}

} // namespace

bool MatchesNamePattern(const std::u32string& text, const std::u32string& pattern) {
    // Iterative matching with one backtrack point for the last '*', so that
    // long names cannot make it exponential.
    std::size_t t = 0, p = 0;
    std::size_t starP = std::u32string::npos, starT = 0;
    while (t < text.size()) {
        bool advanced = false;
        if (p < pattern.size()) {
            const char32_t pc = pattern[p];
            if (pc == U'*') {
                starP = ++p;
                starT = t;
                continue;
            }
            if (pc == U'?') {
                ++p;
                ++t;
                advanced = true;
            } else if (pc == U'#') {
                if (text[t] >= U'0' && text[t] <= U'9') {
                    ++p;
                    ++t;
                    advanced = true;
                }
            } else if (pc == U'[') {
                std::size_t end = 0;
                bool closed = false;
                const bool in = MatchSet(pattern, p, text[t], &end, &closed);
                if (!closed) {
                    if (text[t] == U'[') {
                        ++p;
                        ++t;
                        advanced = true;
                    }
                } else if (in) {
                    p = end;
                    ++t;
                    advanced = true;
                }
            } else if (pc == text[t]) {
                ++p;
                ++t;
                advanced = true;
            }
        }
        if (advanced) continue;
        if (starP == std::u32string::npos) return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == U'*') ++p;
    return p == pattern.size();
}

bool MatchesNamePattern(const std::string& text, const std::string& pattern) {
    return MatchesNamePattern(CodePointsOf(text), CodePointsOf(pattern));
}

} // namespace engine
