#include "engine/DeletedName.h"

#include "engine/EngineText.h"
#include "engine/NamePattern.h"
#include "engine/TextEncoding.h"

namespace engine {

namespace {
// The deletion mark read through the code page: U+00E5.
constexpr const char* DeletionMarkUtf8 = "\xC3\xA5";
} // namespace

std::string RepairDeletedName(const std::string& name, const std::vector<std::string>& list) {
    std::string repaired;
    for (std::size_t i = 0; i < name.size();) {
        if (name.compare(i, 2, DeletionMarkUtf8) == 0) {
            repaired.push_back('_');
            i += 2;
        } else {
            repaired.push_back(name[i++]);
        }
    }
    if (TrimBlanks(repaired).empty()) return repaired;
    const std::u32string text = CodePointsOf(repaired);
    const std::u32string rest = text.substr(1);
    for (const std::string& line : list) {
        const std::u32string pattern = CodePointsOf(line);
        if (pattern.empty()) continue;
        if (MatchesNamePattern(rest, pattern.substr(1))) return Utf8FromCodePoints(pattern.substr(0, 1) + rest);
    }
    return repaired;
}

} // namespace engine
