// The numbered message texts used outside the windows (LANG231 to LANG387,
// from the language file's [AdvToolsMisc] and [FATMisc]). The engine owns
// the table, so that its messages need nothing from the layers above; the
// shell's string store fills it when a language is loaded. One per process.
#pragma once

#include <array>
#include <string>

namespace engine {

using MessageTable = std::array<std::string, 388>; // [231] .. [387] are used

MessageTable& MessageTexts();

} // namespace engine
