// Names from a card become file and folder names on this computer only
// through these functions: a name read from a directory entry is untrusted.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace engine {

// The longest name made (in UTF-8 bytes), leaving room for " (n)".
constexpr std::size_t MaxSafeNameBytes = 240;

// One path component: no "/" or "\", no NUL or other control characters
// (C0, DEL and C1), no U+FFFE or U+FFFF and no bytes that are not UTF-8
// (each becomes "_"), not "." or ".." or empty (those become "_", "__"),
// no trailing blanks or dots left to vanish, at most MaxSafeNameBytes bytes
// (cut at a character boundary, keeping a short extension).
std::string SafeFileName(const std::string& name);

// A name from a card as a message shows it: control characters (C0, DEL,
// C1) and bytes that are not UTF-8 written as "\x1B" or "\u009B", so that
// a hostile name cannot move a terminal's cursor, change its title or
// start a line of its own.
std::string PrintableName(const std::string& name);

// A name in folder that no existing file or folder has: the name itself, or
// "base (2).ext", "base (3).ext", ... (folder ends in "/" or not).
std::string DistinctFileName(const std::string& folder, const std::string& name);

// DistinctFileName for many files into the same folders: remembers the
// names it gave and, for each name, the last number tried, so that a card
// whose thousands of entries share one name costs one look per file
// instead of a search from " (2)" upward for each.
class TakenNames {
public:
    // A name in folder that neither an earlier Take nor an existing file or
    // folder has; it counts as taken from now on.
    std::string Take(const std::string& folder, const std::string& name);

private:
    std::unordered_map<std::string, std::unordered_set<std::string>> taken_;  // by folder
    std::unordered_map<std::string, long> nextNumber_;                        // by folder and name
};

} // namespace engine
