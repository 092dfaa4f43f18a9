// The string store: the numbered message texts used outside the windows
// (LANG231 to LANG387, filled from [AdvToolsMisc] and [FATMisc]) and the
// program folder. One per process.
#pragma once

#include <array>
#include <string>

namespace shell {

struct StringStore {
    std::string Caption = "Storage Form for Module Strings";
    std::string txtAppPath;              // the program folder, no trailing "/"
    std::array<std::string, 388> LANG{}; // LANG[231] .. LANG[387]
};

StringStore& frmPasser();

} // namespace shell
