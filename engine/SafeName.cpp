#include "engine/SafeName.h"

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

bool Exists(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    return !ec && status.type() != std::filesystem::file_type::not_found;
}

} // namespace

std::string SafeFileName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || ch == '/' || ch == '\\') out.push_back('_');
        else out.push_back(ch);
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

} // namespace engine
