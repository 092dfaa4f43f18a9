#include "platform/ui.h"

#include "platform/src/MessageBoxButtons.h"

namespace platform {

namespace {

UiServices* installed = nullptr;

UiServices& DefaultServices() {
    static ConsoleUi console(ConsoleUi::Options{});
    return console;
}

} // namespace

UiServices& Ui() { return installed ? *installed : DefaultServices(); }

void SetUi(UiServices* services) { installed = services; }

namespace detail {

std::vector<Button> ButtonsOf(int style) {
    switch (style & ButtonMask) {
    case vbOKCancel: return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case vbYesNoCancel: return {{IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}};
    case vbYesNo: return {{IDYES, "Yes"}, {IDNO, "No"}};
    default: return {{IDOK, "OK"}};
    }
}

int DefaultAnswer(int style) {
    std::vector<Button> buttons = ButtonsOf(style);
    std::size_t index = 0;
    if ((style & DefaultButtonMask) == vbDefaultButton2) index = 1;
    if ((style & DefaultButtonMask) == vbDefaultButton3) index = 2;
    return index < buttons.size() ? buttons[index].answer : buttons.front().answer;
}

} // namespace detail

} // namespace platform
