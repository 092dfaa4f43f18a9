#include "engine/SafeName.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace engine {

namespace {

// Cuts a UTF-8 text to at most n bytes without splitting a character.
std::string CutUtf8(const std::string& text, std::size_t n) {
    if (text.size() <= n) return text;
    std::size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

struct Utf8Char {
    char32_t code = 0;
    std::size_t length = 1;
    bool valid = false;  // a byte that starts no well-formed character stands alone
};

// The character that starts at byte i of text.
Utf8Char NextUtf8Char(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return {c, 1, true};
    const std::size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (need == 0 || i + need > text.size()) return {};
    char32_t code = need == 4 ? (c & 0x07) : need == 3 ? (c & 0x0F) : (c & 0x1F);
    for (std::size_t k = 1; k < need; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {};
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const char32_t least = need == 4 ? 0x10000 : need == 3 ? 0x800 : 0x80;
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    return {code, need, true};
}

// C0, DEL and C1: what a terminal may take as a command.
bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

bool Exists(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    return !ec && status.type() != std::filesystem::file_type::not_found;
}

} // namespace

std::string SafeFileName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const Utf8Char ch = NextUtf8Char(name, i);
        // The report (XML) cannot hold what is replaced here either, so the
        // name saved and the name listed stay the same.
        if (!ch.valid || IsControl(ch.code) || ch.code == 0xFFFE || ch.code == 0xFFFF || ch.code == '/' ||
            ch.code == '\\')
            out.push_back('_');
        else
            out.append(name, i, ch.length);
        i += ch.length;
    }
    // Trailing blanks and dots would be dropped by some file systems, which
    // could merge two names; make them visible.
    for (std::size_t i = out.size(); i > 0 && (out[i - 1] == ' ' || out[i - 1] == '.'); --i) out[i - 1] = '_';
    if (out.empty()) return "_";
    if (out.size() > MaxSafeNameBytes) {
        const auto dot = out.rfind('.');
        const std::string ext = dot != std::string::npos && out.size() - dot <= 16 ? out.substr(dot) : "";
        out = CutUtf8(out.substr(0, out.size() - ext.size()), MaxSafeNameBytes - ext.size()) + ext;
    }
    return out;
}

namespace {

std::string WithSlash(const std::string& folder) {
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base.push_back('/');
    return base;
}

// "base (n).ext" of "base.ext".
std::string NumberedName(const std::string& name, long n) {
    const auto dot = name.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    const std::string stem = hasExt ? name.substr(0, dot) : name;
    const std::string ext = hasExt ? name.substr(dot) : "";
    return stem + " (" + std::to_string(n) + ")" + ext;
}

} // namespace

std::string DistinctFileName(const std::string& folder, const std::string& name) {
    const std::string base = WithSlash(folder);
    if (!Exists(base + name)) return name;
    for (long n = 2;; ++n) {
        std::string candidate = NumberedName(name, n);
        if (!Exists(base + candidate)) return candidate;
    }
}

std::string TakenNames::Take(const std::string& folder, const std::string& name) {
    const std::string base = WithSlash(folder);
    auto& taken = taken_[base];
    auto isFree = [&](const std::string& candidate) { return !taken.count(candidate) && !Exists(base + candidate); };
    std::string result = name;
    if (!isFree(name)) {
        // Numbers below the last one given were taken then, and stay taken.
        long& n = nextNumber_[base + '\x01' + name];
        if (n < 2) n = 2;
        while (!isFree(result = NumberedName(name, n))) ++n;
        ++n;
    }
    taken.insert(result);
    return result;
}

std::string PrintableName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const Utf8Char ch = NextUtf8Char(name, i);
        char escape[12];
        if (!ch.valid) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(name[i]));
            out += escape;
        } else if (IsControl(ch.code)) {
            std::snprintf(escape, sizeof escape, ch.code < 0x80 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(ch.code));
            out += escape;
        } else {
            out.append(name, i, ch.length);
        }
        i += ch.length;
    }
    return out;
}

} // namespace engine
