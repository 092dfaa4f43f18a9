// The string store: the numbered message texts used outside the windows
// (LANG231 to LANG387, filled from [AdvToolsMisc] and [FATMisc]; the table
// itself is the engine's, which reads its own messages from it) and the
// program folder. One per process.
#pragma once

#include <array>
#include <string>

#include "engine/MessageTexts.h"

namespace shell {

struct StringStore {
    std::string Caption = "Storage Form for Module Strings";
    std::string txtAppPath;              // the program folder, no trailing "/"
    engine::MessageTable& LANG = engine::MessageTexts(); // LANG[231] .. LANG[387]
};

StringStore& frmPasser();

} // namespace shell
