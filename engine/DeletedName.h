// The first letter of a deleted short name: the deletion mark took its
// place, and the standard-name lists (stddirs.lis, stdfiles.lis) give it back.
#pragma once

#include <string>
#include <vector>

namespace engine {

// The deletion mark (U+00E5) becomes "_"; then the first line of the list
// that matches the name without its first character (wildcards as
// MatchesNamePattern) gives the first character. No match: the name with "_".
std::string RepairDeletedName(const std::string& name, const std::vector<std::string>& list);

} // namespace engine
