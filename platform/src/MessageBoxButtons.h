// The buttons of a message-box style and the answer of its default button.
#pragma once

#include <string>
#include <vector>

namespace platform::detail {

struct Button {
    int answer;        // IDOK, IDCANCEL, IDYES, IDNO
    const char* label; // "OK", "Cancel", "Yes", "No"
};

std::vector<Button> ButtonsOf(int style);
// The button that Enter presses: the first, unless vbDefaultButton2/3 names
// another that the box has.
int DefaultAnswer(int style);

} // namespace platform::detail
